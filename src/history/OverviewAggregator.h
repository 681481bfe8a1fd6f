#pragma once

#include "DashboardSnapshot.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

namespace tarnwick {

class FlowDatabase;

// Feeds the overview dashboard one `DashboardSnapshot`: the live figures every second, and every six
// seconds a history load that runs every query off the main thread and publishes its figures at once.
class OverviewAggregator final : public QObject
{
    Q_OBJECT

public:
    // Fills the live fields (rates, connection counts, memory, recent samples, session totals) from
    // the stores; called on the main thread.
    using LiveFigures = std::function<void(DashboardSnapshot&)>;
    // The profile the history is filtered by: the active profile's name, or none for all.
    using ProfileFilter = std::function<std::optional<QString>()>;

    OverviewAggregator(LiveFigures live, FlowDatabase* flowDB, ProfileFilter profileName,
                       QObject* parent = nullptr);

    const DashboardSnapshot& snapshot() const { return m_snapshot; }

    void start();
    void stop();
    bool isRunning() const { return m_realtime.isActive(); }

signals:
    void snapshotChanged();

private:
    void updateLive();
    void loadHistory();

    LiveFigures m_live;
    FlowDatabase* m_flowDB;
    ProfileFilter m_profileName;
    DashboardSnapshot m_snapshot;
    QTimer m_realtime;
    QTimer m_history;
    bool m_loading = false;
};

} // namespace tarnwick
