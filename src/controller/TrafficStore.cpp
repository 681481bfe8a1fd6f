#include "TrafficStore.h"

#include "platform/Logging.h"

namespace tarnwick {

TrafficStore::TrafficStore(MihomoClient client, int historyLimit, QObject* parent)
    : QObject(parent), m_client(std::move(client)), m_historyLimit(historyLimit)
{
    for (Follow* follow : {&m_traffic, &m_memory})
        follow->retry.setSingleShot(true);
    connect(&m_traffic.retry, &QTimer::timeout, this, &TrafficStore::openTraffic);
    connect(&m_memory.retry, &QTimer::timeout, this, &TrafficStore::openMemory);
}

TrafficStore::~TrafficStore()
{
    cancel(m_traffic);
    cancel(m_memory);
}

void TrafficStore::startMonitoring()
{
    if (m_traffic.stream || m_traffic.retry.isActive())
        return;
    setMonitoring(true);
    m_traffic.failures = 0;
    openTraffic();
    if (!m_memory.stream && !m_memory.retry.isActive()) {
        m_memory.failures = 0;
        openMemory();
    }
}

void TrafficStore::stopMonitoring()
{
    cancel(m_traffic);
    cancel(m_memory);
    setMonitoring(false);
    if (m_currentUpload != 0 || m_currentDownload != 0) {
        m_currentUpload = 0;
        m_currentDownload = 0;
        Q_EMIT ratesChanged();
    }
    if (m_currentMemory != 0) {
        m_currentMemory = 0;
        Q_EMIT memoryChanged();
    }
}

void TrafficStore::resetStatistics()
{
    m_totalUpload = 0;
    m_totalDownload = 0;
    m_history.clear();
    Q_EMIT totalsChanged();
    Q_EMIT historyChanged();
}

void TrafficStore::applyTraffic(const TrafficSnapshot& sample)
{
    if (sample.upload != m_currentUpload || sample.download != m_currentDownload) {
        m_currentUpload = sample.upload;
        m_currentDownload = sample.download;
        Q_EMIT ratesChanged();
    }
    m_totalUpload += sample.upload;
    m_totalDownload += sample.download;
    Q_EMIT totalsChanged();
    // A gap (sleep, kernel restart, reconnection) never joins two stretches in one chart.
    if (!m_history.isEmpty() && m_history.last().timestamp.msecsTo(sample.timestamp) > historyGap.count())
        m_history.clear();
    m_history.append(sample);
    if (m_history.size() > m_historyLimit)
        m_history.remove(0, m_history.size() - m_historyLimit);
    Q_EMIT historyChanged();
    if (onTrafficUpdate)
        onTrafficUpdate();
}

void TrafficStore::applyMemory(const MemorySnapshot& sample)
{
    if (sample.inUse == m_currentMemory)
        return;
    m_currentMemory = sample.inUse;
    Q_EMIT memoryChanged();
}

void TrafficStore::openTraffic()
{
    auto stream = m_client.trafficStream();
    ControllerStream<TrafficSnapshot>* raw = stream.get();
    connect(raw, &ControllerStreamBase::elementsAvailable, this, [this, raw] {
        for (const TrafficSnapshot& sample : raw->takeAll()) {
            m_traffic.failures = 0;
            applyTraffic(sample);
        }
    });
    connect(raw, &ControllerStreamBase::finished, this,
            [this] { followEnded(m_traffic, &TrafficStore::openTraffic); });
    m_traffic.stream = std::move(stream);
}

void TrafficStore::openMemory()
{
    auto stream = m_client.memoryStream();
    ControllerStream<MemorySnapshot>* raw = stream.get();
    connect(raw, &ControllerStreamBase::elementsAvailable, this, [this, raw] {
        for (const MemorySnapshot& sample : raw->takeAll()) {
            m_memory.failures = 0;
            applyMemory(sample);
        }
    });
    connect(raw, &ControllerStreamBase::finished, this,
            [this] { followEnded(m_memory, &TrafficStore::openMemory); });
    m_memory.stream = std::move(stream);
}

void TrafficStore::followEnded(Follow& follow, void (TrafficStore::*reopen)())
{
    const std::exception_ptr error = follow.stream->error();
    // Inside the stream's own signal: it goes once the signal has returned.
    follow.stream->disconnect(this);
    follow.stream.release()->deleteLater();
    if (follow.failures >= maxFailures) {
        qCInfo(lcController, "A kernel stream failed %d times in a row; monitoring it ends", maxFailures);
        if (&follow == &m_traffic)
            setMonitoring(false);
        return;
    }
    if (!error) {
        ++follow.failures;
        (this->*reopen)();
        return;
    }
    follow.retry.start(m_retryUnit * (1 << follow.failures));
    ++follow.failures;
}

void TrafficStore::cancel(Follow& follow)
{
    follow.retry.stop();
    if (follow.stream)
        follow.stream->disconnect(this);
    follow.stream.reset();
}

void TrafficStore::setMonitoring(bool monitoring)
{
    if (m_monitoring == monitoring)
        return;
    m_monitoring = monitoring;
    Q_EMIT monitoringChanged();
}

} // namespace tarnwick
