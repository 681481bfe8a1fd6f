#pragma once

#include "ControllerStream.h"
#include "MemorySnapshot.h"
#include "MihomoClient.h"
#include "TrafficSnapshot.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

namespace tarnwick {

// The kernel's current upload and download rates, the last minute of them for the sparkline, the totals
// since monitoring started and the kernel's memory use: follows "/traffic" and "/memory", reconnecting
// with a back-off when a stream fails. Main thread only.
class TrafficStore final : public QObject
{
    Q_OBJECT

public:
    // A stream is given up after this many failures in a row.
    static constexpr int maxFailures = 5;
    // A sample this much later than the previous one starts a new stretch of history.
    static constexpr std::chrono::milliseconds historyGap{5000};

    // `historyLimit`: samples kept, one per second.
    TrafficStore(MihomoClient client, int historyLimit, QObject* parent = nullptr);
    ~TrafficStore() override;

    qint64 currentUpload() const { return m_currentUpload; }
    qint64 currentDownload() const { return m_currentDownload; }
    // Oldest first.
    const QList<TrafficSnapshot>& history() const { return m_history; }
    int historyLimit() const { return m_historyLimit; }
    qint64 totalUpload() const { return m_totalUpload; }
    qint64 totalDownload() const { return m_totalDownload; }
    qint64 currentMemory() const { return m_currentMemory; }
    bool isMonitoring() const { return m_monitoring; }

    // Called after each traffic sample has been applied.
    std::function<void()> onTrafficUpdate;

    // The unit of the reconnection back-off: a failed stream is opened again after 1, 2, 4, 8 and 16
    // units. One second; tests shorten it.
    void setRetryUnit(std::chrono::milliseconds unit) { m_retryUnit = unit; }
    // A new controller endpoint, used from the next (re)connection on.
    void setClient(MihomoClient client) { m_client = std::move(client); }

    // Nothing when already monitoring.
    void startMonitoring();
    // Zeroes the current rates and memory; history and totals stay.
    void stopMonitoring();
    void resetStatistics();

    void applyTraffic(const TrafficSnapshot& sample);
    void applyMemory(const MemorySnapshot& sample);

Q_SIGNALS:
    void ratesChanged();
    void historyChanged();
    void totalsChanged();
    void memoryChanged();
    void monitoringChanged();

private:
    // One followed stream with its failure count and its pending reconnection.
    struct Follow
    {
        std::unique_ptr<ControllerStreamBase> stream;
        int failures = 0;
        QTimer retry;
    };

    void openTraffic();
    void openMemory();
    void followEnded(Follow& follow, void (TrafficStore::*reopen)());
    void cancel(Follow& follow);
    void setMonitoring(bool monitoring);

    MihomoClient m_client;
    int m_historyLimit;
    std::chrono::milliseconds m_retryUnit{1000};
    qint64 m_currentUpload = 0;
    qint64 m_currentDownload = 0;
    QList<TrafficSnapshot> m_history;
    qint64 m_totalUpload = 0;
    qint64 m_totalDownload = 0;
    qint64 m_currentMemory = 0;
    bool m_monitoring = false;
    Follow m_traffic;
    Follow m_memory;
};

} // namespace tarnwick
