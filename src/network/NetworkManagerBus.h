#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace tarnwick {

// NetworkManager as its D-Bus service shows it, on the system bus (DBUS_SYSTEM_BUS_ADDRESS says where that
// is when set): the name of the Wi-Fi network in use, and, from an instance, a signal whenever the network
// the machine is on may have changed. Every call is bounded.
class NetworkManagerBus final : public QObject
{
    Q_OBJECT

public:
    explicit NetworkManagerBus(QObject* parent = nullptr);
    ~NetworkManagerBus() override;

    // Whether NetworkManager is on the bus now.
    static bool isRunning();
    // The SSID of the active wireless connection (the primary connection first); nothing when there is
    // none, or when NetworkManager cannot be asked.
    static std::optional<QString> wifiName();

Q_SIGNALS:
    // The state, the primary or the active connections, a device's access point or an access point's SSID
    // changed. Signal strength and the like do not count.
    void networkChanged();
    // NetworkManager came onto the bus or left it.
    void runningChanged(bool running);

private Q_SLOTS:
    void onStateChanged(uint state);
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    // A property's value; invalid when it cannot be read.
    static QVariant property(const QString& path, const QString& interface, const QString& name);
};

} // namespace tarnwick
