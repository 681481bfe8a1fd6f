#pragma once

#include "WifiNameSource.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <chrono>
#include <memory>
#include <optional>

class QTimer;

namespace tarnwick {

// Watches the name of the Wi-Fi network the machine is on and publishes every change. The name is read
// on the monitor's own thread, at start and then whenever NetworkManager says the network changed; while
// NetworkManager is not on the system bus, on a short poll instead. Subscribers receive ssidChanged() on
// their own thread.
class NetworkEnvironmentMonitor final : public QObject
{
    Q_OBJECT

public:
    // `source`: the Linux one when not given. `pollInterval`: how often the name is read while
    // NetworkManager is not there to say when it changes.
    explicit NetworkEnvironmentMonitor(std::unique_ptr<WifiNameSource> source = nullptr,
                                       std::chrono::milliseconds pollInterval = std::chrono::seconds(5),
                                       QObject* parent = nullptr);
    ~NetworkEnvironmentMonitor() override;

    // Starts the thread and reads the name once at once.
    void start();
    // The last name read; nothing when not on Wi-Fi.
    std::optional<QString> currentSSID() const;

    // Reads the name again now (on the monitor's thread); publishes it when it changed.
    void refresh();

Q_SIGNALS:
    // An empty name: not on Wi-Fi (or the name cannot be read).
    void ssidChanged(QString ssid);

private:
    void refreshOnThread();
    // Polls only while NetworkManager is not on the bus.
    void followNetworkManager(bool running);

    std::unique_ptr<WifiNameSource> m_source;
    std::chrono::milliseconds m_pollInterval;
    QThread m_thread;
    QObject* m_worker = nullptr; // lives on m_thread
    QTimer* m_timer = nullptr;   // lives on m_thread
    bool m_pollLogged = false;   // used on m_thread
    mutable QMutex m_lock;       // guards m_ssid
    std::optional<QString> m_ssid;
};

} // namespace tarnwick
