#include "KernelStores.h"

#include <QDateTime>

namespace tarnwick {

const QString KernelStores::logLevel = QStringLiteral("info");

KernelStores::KernelStores(const MihomoClient& client, Settings& settings, const QString& runtimeConfig,
                           QObject* parent)
    : QObject(parent), m_proxy(new ProxyStore(client, settings, runtimeConfig, this)),
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

QCoro::Task<> KernelStores::refreshProxies()
{
    m_proxy->loadConfigStructure();
    return m_proxy->refresh();
}

void KernelStores::kernelReady()
{
    // The moment of readiness: unique across kernel runs and across launches of the application.
    m_connections->setSessionID(QDateTime::currentMSecsSinceEpoch());
    m_traffic->startMonitoring();
    m_connections->startStreaming();
    m_logs->startStreaming(logLevel);
}

void KernelStores::kernelStopped()
{
    m_traffic->stopMonitoring();
    m_connections->stopStreaming();
    m_logs->stopStreaming();
}

} // namespace tarnwick
