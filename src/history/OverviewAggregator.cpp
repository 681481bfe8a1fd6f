#include "OverviewAggregator.h"

#include "FlowDatabase.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace tarnwick {

OverviewAggregator::OverviewAggregator(LiveFigures live, FlowDatabase* flowDB, ProfileFilter profileName,
                                       QObject* parent)
    : QObject(parent), m_live(std::move(live)), m_flowDB(flowDB), m_profileName(std::move(profileName))
{
    m_realtime.setInterval(1000);
    m_history.setInterval(6000);
    connect(&m_realtime, &QTimer::timeout, this, &OverviewAggregator::updateLive);
    connect(&m_history, &QTimer::timeout, this, &OverviewAggregator::loadHistory);
}

void OverviewAggregator::start()
{
    if (m_realtime.isActive())
        return;
    updateLive();
    loadHistory();
    m_realtime.start();
    m_history.start();
}

void OverviewAggregator::stop()
{
    m_realtime.stop();
    m_history.stop();
}

void OverviewAggregator::updateLive()
{
    if (!m_live)
        return;
    m_live(m_snapshot);
    emit snapshotChanged();
}

void OverviewAggregator::loadHistory()
{
    // Without a database only the live figures change; a load still running is not doubled.
    if (!m_flowDB || m_loading)
        return;
    m_loading = true;
    const std::optional<QString> profile = m_profileName ? m_profileName() : std::nullopt;
    FlowDatabase* db = m_flowDB;
    QPointer<OverviewAggregator> self(this);
    QThreadPool::globalInstance()->start(
        [db, profile, self] {
            const DashboardHistory history =
                DashboardHistory::load(*db, profile, QDateTime::currentDateTime());
            // The application object outlives every aggregator; `self` is read on the main thread only.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, history] {
                    if (!self)
                        return;
                    self->m_loading = false;
                    self->m_snapshot.history = history;
                    emit self->snapshotChanged();
                },
                Qt::QueuedConnection);
        },
        QThread::LowPriority);
}

} // namespace tarnwick
