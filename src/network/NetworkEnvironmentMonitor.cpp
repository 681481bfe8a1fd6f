#include "NetworkEnvironmentMonitor.h"

#include "NetworkManagerBus.h"
#include "WifiNameSource.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QTimer>

Q_LOGGING_CATEGORY(lcNetworkEnvironmentMonitor, "app.tarnwick.NetworkEnvironmentMonitor")

namespace tarnwick {

NetworkEnvironmentMonitor::NetworkEnvironmentMonitor(std::unique_ptr<WifiNameSource> source,
                                                     std::chrono::milliseconds pollInterval, QObject* parent)
    : QObject(parent), m_source(source ? std::move(source) : std::make_unique<LinuxWifiNameSource>()),
      m_pollInterval(pollInterval)
{
    m_thread.setObjectName(QStringLiteral("app.tarnwick.networkmonitor"));
}

NetworkEnvironmentMonitor::~NetworkEnvironmentMonitor()
{
    // The worker and its timer end on their own thread.
    if (m_worker)
        QMetaObject::invokeMethod(
            m_worker, [worker = m_worker] { delete worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void NetworkEnvironmentMonitor::start()
{
    if (m_worker)
        return;
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, [this] {
        m_timer = new QTimer(m_worker);
        connect(m_timer, &QTimer::timeout, m_worker, [this] { refreshOnThread(); });
        auto* networkManager = new NetworkManagerBus(m_worker);
        connect(networkManager, &NetworkManagerBus::networkChanged, m_worker, [this] { refreshOnThread(); });
        connect(networkManager, &NetworkManagerBus::runningChanged, m_worker, [this](bool running) {
            followNetworkManager(running);
            refreshOnThread();
        });
        followNetworkManager(NetworkManagerBus::isRunning());
        refreshOnThread();
    });
}

void NetworkEnvironmentMonitor::refresh()
{
    if (m_worker)
        QMetaObject::invokeMethod(m_worker, [this] { refreshOnThread(); });
}

std::optional<QString> NetworkEnvironmentMonitor::currentSSID() const
{
    const QMutexLocker locker(&m_lock);
    return m_ssid;
}

void NetworkEnvironmentMonitor::followNetworkManager(bool running)
{
    if (running) {
        m_timer->stop();
        return;
    }
    if (m_timer->isActive())
        return;
    if (!std::exchange(m_pollLogged, true))
        qCInfo(
            lcNetworkEnvironmentMonitor,
            "[NetworkMonitor] NetworkManager is not on the system bus; the Wi-Fi name is read every %lld ms",
            static_cast<long long>(m_pollInterval.count()));
    m_timer->start(m_pollInterval);
}

void NetworkEnvironmentMonitor::refreshOnThread()
{
    const std::optional<QString> ssid = m_source->currentSSID();
    std::optional<QString> previous;
    {
        const QMutexLocker locker(&m_lock);
        if (ssid == m_ssid)
            return;
        previous = m_ssid;
        m_ssid = ssid;
    }
    qCInfo(lcNetworkEnvironmentMonitor, "[NetworkMonitor] SSID changed from %s to %s",
           qUtf8Printable(previous.value_or(QStringLiteral("nil"))),
           qUtf8Printable(ssid.value_or(QStringLiteral("nil"))));
    Q_EMIT ssidChanged(ssid.value_or(QString()));
}

} // namespace tarnwick
