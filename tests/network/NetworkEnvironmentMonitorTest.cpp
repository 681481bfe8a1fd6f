#include "network/NetworkEnvironmentMonitor.h"

#include "network/WifiNameSource.h"
#include "platform/NetworkManagerCli.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

QByteArray recorded(const QString& name)
{
    return test::readFile(test::testData(QStringLiteral("network/") + name)).toUtf8();
}

// No Wi-Fi hardware here: the name the test says the machine is on.
class ScriptedSource final : public WifiNameSource
{
public:
    std::optional<QString> currentSSID() override
    {
        const QMutexLocker locker(&lock);
        ++reads;
        return name;
    }
    int readCount()
    {
        const QMutexLocker locker(&lock);
        return reads;
    }
    void set(std::optional<QString> value)
    {
        const QMutexLocker locker(&lock);
        name = std::move(value);
    }
    QMutex lock;
    std::optional<QString> name;
    int reads = 0;
};

TEST(WifiNameSourceTest, ReadsTheOutputsOfNmcliAndIwgetid)
{
    EXPECT_EQ(LinuxWifiNameSource::parseIwgetid(recorded(QStringLiteral("iwgetid-r.txt"))),
              QStringLiteral("Home Network"));
    EXPECT_EQ(LinuxWifiNameSource::parseIwgetid("\n"), std::nullopt);
    QStringList networks;
    for (const auto& connection : NetworkManagerCli::userNetworks(NetworkManagerCli::parseActiveConnections(
             recorded(QStringLiteral("nmcli-active-connections.txt")))))
        networks.append(connection.name + QLatin1Char('|') + connection.type + QLatin1Char('|') +
                        connection.device);
    // The loopback and the tun are not networks the user is on.
    EXPECT_EQ(networks, (QStringList{QStringLiteral("bridge0|bridge|br0"),
                                     QStringLiteral("Wired connection 1|802-3-ethernet|veth0"),
                                     QStringLiteral("docker0|bridge|docker0"),
                                     QStringLiteral("Café: Home \\ Lab|802-3-ethernet|veth2")}));
}

const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kRoot = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kWireless = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPoint = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");

QDBusObjectPath object(const QString& relative)
{
    return QDBusObjectPath(kRoot + QLatin1Char('/') + relative);
}

// NetworkManager itself does not run in the tests: its objects as a table of properties, served on a private
// bus through the standard properties interface as NetworkManager serves them, with every read recorded.
class NetworkManagerStandIn final : public QDBusVirtualObject
{
public:
    explicit NetworkManagerStandIn(const QString& address)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("networkmanager-stand-in")))
    {
        m_bus.registerVirtualObject(kRoot, this, QDBusConnection::SubPath);
    }
    ~NetworkManagerStandIn() override { QDBusConnection::disconnectFromBus(m_bus.name()); }

    bool registerService() { return m_bus.registerService(kNetworkManager); }
    bool unregisterService() { return m_bus.unregisterService(kNetworkManager); }

    void set(const QString& path, const QString& interface, const QString& name, const QVariant& value)
    {
        const QMutexLocker locker(&m_lock);
        m_objects[path][interface + QLatin1Char('.') + name] = value;
    }
    // Changes the properties and says so, as NetworkManager does.
    void change(const QString& path, const QString& interface, const QVariantMap& properties)
    {
        for (auto it = properties.begin(); it != properties.end(); ++it)
            set(path, interface, it.key(), it.value());
        m_bus.send(QDBusMessage::createSignal(path, kProperties, QStringLiteral("PropertiesChanged"))
                   << interface << properties << QStringList());
    }
    void stateChanged(uint state)
    {
        m_bus.send(QDBusMessage::createSignal(kRoot, kNetworkManager, QStringLiteral("StateChanged"))
                   << state);
    }
    qsizetype reads(const QString& path, const QString& property)
    {
        const QMutexLocker locker(&m_lock);
        return m_reads.count(path + QLatin1Char(' ') + property);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != kProperties || message.member() != QLatin1String("Get"))
            return false;
        const QString key = message.arguments().value(0).toString() + QLatin1Char('.') +
                            message.arguments().value(1).toString();
        const QMutexLocker locker(&m_lock);
        m_reads.append(message.path() + QLatin1Char(' ') + key);
        const QVariantMap properties = m_objects.value(message.path());
        connection.send(properties.contains(key)
                            ? message.createReply(QVariant::fromValue(QDBusVariant(properties.value(key))))
                            : message.createErrorReply(QDBusError::UnknownProperty, key));
        return true;
    }

private:
    QDBusConnection m_bus;
    QMutex m_lock;
    QMap<QString, QVariantMap> m_objects;
    QStringList m_reads;
};

// The members the stand-in serves, with their types, as the real NetworkManager introspects them (the
// wireless device and access point cannot be recorded without Wi-Fi hardware).
TEST(NetworkManagerStandInTest, ServesTheRecordedInterfaces)
{
    const QString recordedInterfaces =
        QString::fromUtf8(recorded(QStringLiteral("networkmanager-interfaces.txt")));
    const auto members = [&](const QString& interface) {
        const qsizetype start = recordedInterfaces.indexOf(QStringLiteral("interface ") + interface + " {");
        return start < 0 ? QString()
                         : recordedInterfaces.mid(start, recordedInterfaces.indexOf("\n  };", start) - start);
    };
    const struct
    {
        QString interface;
        const char* member;
    } expected[] = {
        {kNetworkManager, "readonly ao ActiveConnections;"},
        {kNetworkManager, "readonly o PrimaryConnection;"},
        {kNetworkManager, "StateChanged(u state);"},
        {kActive, "readonly s Type;"},
        {kActive, "readonly ao Devices;"},
        {kProperties,
         "PropertiesChanged(s interface_name,\n                        a{sv} changed_properties,\n"
         "                        as invalidated_properties);"},
    };
    for (const auto& [interface, member] : expected)
        EXPECT_TRUE(members(interface).contains(QLatin1String(member)))
            << interface.toStdString() << ' ' << member;
}

// The monitor finds NetworkManager on the system bus; here that is a private bus of the test's own.
class NetworkEnvironmentMonitorTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_bus = new QProcess;
        s_bus->start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--print-address")});
        ASSERT_TRUE(test::waitFor([] { return s_bus->canReadLine(); }));
        s_address = QString::fromUtf8(s_bus->readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", s_address.toUtf8());
    }
    static void TearDownTestSuite()
    {
        s_bus->kill();
        s_bus->waitForFinished();
        delete s_bus;
    }

    static inline QProcess* s_bus = nullptr;
    static inline QString s_address;
};

TEST_F(NetworkEnvironmentMonitorTest, FollowsNetworkManagerWithoutPolling)
{
    NetworkManagerStandIn standIn(s_address);
    const QString wired = object(QStringLiteral("ActiveConnection/1")).path();
    const QString wifi = object(QStringLiteral("ActiveConnection/2")).path();
    const QString device = object(QStringLiteral("Devices/3")).path();
    const QString office = object(QStringLiteral("AccessPoint/7")).path();
    const QString cafe = object(QStringLiteral("AccessPoint/8")).path();
    const auto connections = [](std::initializer_list<QString> paths) {
        QList<QDBusObjectPath> list;
        for (const QString& path : paths)
            list.append(QDBusObjectPath(path));
        return QVariant::fromValue(list);
    };
    standIn.set(kRoot, kNetworkManager, QStringLiteral("ActiveConnections"), connections({wired, wifi}));
    standIn.set(kRoot, kNetworkManager, QStringLiteral("PrimaryConnection"),
                QVariant::fromValue(QDBusObjectPath(wired)));
    standIn.set(wired, kActive, QStringLiteral("Type"), QStringLiteral("802-3-ethernet"));
    standIn.set(wired, kActive, QStringLiteral("Devices"),
                connections({object(QStringLiteral("Devices/2")).path()}));
    standIn.set(wifi, kActive, QStringLiteral("Type"), QStringLiteral("802-11-wireless"));
    standIn.set(wifi, kActive, QStringLiteral("Devices"), connections({device}));
    standIn.set(device, kWireless, QStringLiteral("ActiveAccessPoint"),
                QVariant::fromValue(QDBusObjectPath(office)));
    standIn.set(office, kAccessPoint, QStringLiteral("Ssid"), QByteArray("Office: 5 GHz"));
    standIn.set(cafe, kAccessPoint, QStringLiteral("Ssid"), QByteArray("Café"));
    ASSERT_TRUE(standIn.registerService());

    // An hour between polls: every change below is heard from NetworkManager or not at all.
    NetworkEnvironmentMonitor monitor(nullptr, 1h);
    QSignalSpy changes(&monitor, &NetworkEnvironmentMonitor::ssidChanged);
    monitor.start();
    ASSERT_TRUE(test::waitFor([&] { return changes.size() == 1; }));
    EXPECT_EQ(changes.at(0).at(0).toString(), QStringLiteral("Office: 5 GHz"));

    const struct
    {
        const char* what;
        std::function<void()> change;
        QString name;
        // How often the name is read for it.
        int reads;
    } steps[] = {
        {"signal strength alone, then the name of the access point",
         [&] {
             standIn.change(office, kAccessPoint,
                            {{QStringLiteral("Strength"), QVariant::fromValue(uchar(40))}});
             standIn.change(office, kAccessPoint, {{QStringLiteral("Ssid"), QByteArray("Home")}});
         },
         QStringLiteral("Home"), 1},
        {"the device roams to another access point",
         [&] {
             standIn.change(
                 device, kWireless,
                 {{QStringLiteral("ActiveAccessPoint"), QVariant::fromValue(QDBusObjectPath(cafe))}});
         },
         QStringLiteral("Café"), 1},
        {"Wi-Fi disconnects",
         [&] {
             standIn.set(kRoot, kNetworkManager, QStringLiteral("ActiveConnections"), connections({wired}));
             standIn.stateChanged(60);
         },
         QString(), 1},
        {"Wi-Fi comes back as the primary connection",
         [&] {
             standIn.change(
                 kRoot, kNetworkManager,
                 {{QStringLiteral("ActiveConnections"), connections({wired, wifi})},
                  {QStringLiteral("PrimaryConnection"), QVariant::fromValue(QDBusObjectPath(wifi))}});
         },
         QStringLiteral("Café"), 1},
        {"NetworkManager leaves the bus", [&] { ASSERT_TRUE(standIn.unregisterService()); }, QString(), 0},
        {"NetworkManager comes back", [&] { ASSERT_TRUE(standIn.registerService()); }, QStringLiteral("Café"),
         1},
    };
    qsizetype reads = 1;
    for (const auto& step : steps) {
        const qsizetype published = changes.size();
        step.change();
        ASSERT_TRUE(test::waitFor([&] { return changes.size() > published; })) << step.what;
        EXPECT_EQ(changes.last().at(0).toString(), step.name) << step.what;
        // A read the step did not call for would have been made before the one that published.
        reads += step.reads;
        EXPECT_EQ(standIn.reads(kRoot, kNetworkManager + QStringLiteral(".ActiveConnections")), reads)
            << step.what;
    }
    EXPECT_EQ(changes.size(), 1 + std::size(steps));
}

// Without NetworkManager on the bus, the name is polled.
TEST_F(NetworkEnvironmentMonitorTest, PublishesEachChangeOnce)
{
    auto source = std::make_unique<ScriptedSource>();
    ScriptedSource* scripted = source.get();
    scripted->set(QStringLiteral("Office"));
    NetworkEnvironmentMonitor monitor(std::move(source), 20ms);
    QSignalSpy changes(&monitor, &NetworkEnvironmentMonitor::ssidChanged);
    monitor.start();
    ASSERT_TRUE(test::waitFor([&] { return changes.size() == 1; }));
    EXPECT_EQ(monitor.currentSSID(), QStringLiteral("Office"));
    scripted->set(std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return changes.size() == 2; }));
    // Polls that find the same name publish nothing.
    const int reads = scripted->readCount();
    ASSERT_TRUE(test::waitFor([&] { return scripted->readCount() > reads + 2; }));
    EXPECT_EQ(changes.size(), 2);
    EXPECT_EQ(changes.at(0).at(0).toString(), QStringLiteral("Office"));
    EXPECT_EQ(changes.at(1).at(0).toString(), QString());
    EXPECT_EQ(monitor.currentSSID(), std::nullopt);
}

} // namespace
