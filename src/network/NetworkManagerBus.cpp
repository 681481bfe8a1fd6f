#include "NetworkManagerBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <algorithm>

namespace tarnwick {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kCallBoundMs = 2000;

// The properties whose change may mean another network: the rest (signal strength, speeds, counters)
// changes all the time and says nothing about which network the machine is on.
const QStringList kNetworkProperties = {QStringLiteral("PrimaryConnection"),
                                        QStringLiteral("ActiveConnections"),
                                        QStringLiteral("ActiveAccessPoint"), QStringLiteral("Ssid")};

QList<QDBusObjectPath> pathsOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>());
    return value.value<QList<QDBusObjectPath>>();
}

} // namespace

NetworkManagerBus::NetworkManagerBus(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(kService, kPath, kService, QStringLiteral("StateChanged"), this, SLOT(onStateChanged(uint)));
    // Every object of the service: the manager, its devices and their access points.
    bus.connect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    auto* watcher = new QDBusServiceWatcher(
        kService, bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { Q_EMIT runningChanged(true); });
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { Q_EMIT runningChanged(false); });
}

NetworkManagerBus::~NetworkManagerBus()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.disconnect(kService, kPath, kService, QStringLiteral("StateChanged"), this,
                   SLOT(onStateChanged(uint)));
    bus.disconnect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                   SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
}

bool NetworkManagerBus::isRunning()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    call << kService;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, kCallBoundMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

QVariant NetworkManagerBus::property(const QString& path, const QString& interface, const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kProperties, QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, kCallBoundMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

std::optional<QString> NetworkManagerBus::wifiName()
{
    QList<QDBusObjectPath> connections =
        pathsOf(property(kPath, kService, QStringLiteral("ActiveConnections")));
    const auto primary =
        property(kPath, kService, QStringLiteral("PrimaryConnection")).value<QDBusObjectPath>();
    if (connections.removeOne(primary))
        connections.prepend(primary);
    const QString active = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
    for (const QDBusObjectPath& connection : std::as_const(connections)) {
        if (property(connection.path(), active, QStringLiteral("Type")).toString() !=
            QLatin1String("802-11-wireless"))
            continue;
        for (const QDBusObjectPath& device :
             pathsOf(property(connection.path(), active, QStringLiteral("Devices")))) {
            const auto accessPoint =
                property(device.path(), QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless"),
                         QStringLiteral("ActiveAccessPoint"))
                    .value<QDBusObjectPath>();
            if (accessPoint.path().isEmpty() || accessPoint.path() == QLatin1String("/"))
                continue;
            const QByteArray ssid =
                property(accessPoint.path(), QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"),
                         QStringLiteral("Ssid"))
                    .toByteArray();
            if (!ssid.isEmpty())
                return QString::fromUtf8(ssid);
        }
    }
    return std::nullopt;
}

void NetworkManagerBus::onStateChanged(uint)
{
    Q_EMIT networkChanged();
}

void NetworkManagerBus::onPropertiesChanged(const QString&, const QVariantMap& changed,
                                            const QStringList& invalidated)
{
    const auto concerns = [](const QString& name) { return kNetworkProperties.contains(name); };
    if (std::any_of(changed.keyBegin(), changed.keyEnd(), concerns) ||
        std::any_of(invalidated.begin(), invalidated.end(), concerns))
        Q_EMIT networkChanged();
}

} // namespace tarnwick
