#include "KernelStores.h"

#include "platform/Settings.h"

#include <QDateTime>

namespace tarnwick {

const QString KernelStores::defaultLogLevel = QStringLiteral("info");
const QString KernelStores::logLevelKey = QStringLiteral("logs.level");

KernelStores::KernelStores(const MihomoClient& client, Settings& settings, const QString& runtimeConfig,
                           QObject* parent)
    : QObject(parent), m_settings(settings), m_proxy(new ProxyStore(client, settings, runtimeConfig, this)),
      m_traffic(new TrafficStore(client, trafficHistoryLimit, this)),
      m_connections(new ConnectionStore(client, this)), m_logs(new LogStore(client, logLimit, this))
{}

void KernelStores::setClient(const MihomoClient& client)
{
    m_proxy->setClient(client);
    m_traffic->setClient(client);
    m_connections->setClient(client);
    m_logs->setClient(client);
}

void KernelStores::setProfileNameProvider(std::function<std::optional<QString>()> provider)
{
    m_connections->setProfileNameProvider(std::move(provider));
}

QString KernelStores::logLevel() const
{
    return m_settings.text(logLevelKey, defaultLogLevel);
}

void KernelStores::setLogLevel(const QString& level)
{
    m_settings.setText(logLevelKey, level);
    if (m_logs->isStreaming())
        m_logs->startStreaming(level);
}

void KernelStores::setLogPaused(bool paused)
{
    m_logPaused = paused;
    if (paused)
        m_logs->stopStreaming();
    else if (m_ready)
        m_logs->startStreaming(logLevel());
}

QCoro::Task<> KernelStores::refreshProxies()
{
    m_proxy->loadConfigStructure();
    return m_proxy->refresh();
}

void KernelStores::kernelReady()
{
    // The moment of readiness: unique across kernel runs and across launches of the application.
    m_connections->setSessionID(QDateTime::currentMSecsSinceEpoch());
    m_ready = true;
    m_traffic->startMonitoring();
    m_connections->startStreaming();
    if (!m_logPaused)
        m_logs->startStreaming(logLevel());
}

void KernelStores::kernelStopped()
{
    m_ready = false;
    m_proxy->forgetKernel();
    m_traffic->stopMonitoring();
    m_connections->stopStreaming();
    m_logs->stopStreaming();
}

} // namespace tarnwick
