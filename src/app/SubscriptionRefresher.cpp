#include "SubscriptionRefresher.h"

#include "config/ProfileStore.h"
#include "platform/Logging.h"

#include <QCoro/QCoroTimer>

namespace tarnwick {

SubscriptionRefresher::SubscriptionRefresher(ProfileStore& profiles, Hooks hooks, Schedule schedule,
                                             QObject* parent)
    : QObject(parent), m_profiles(profiles), m_hooks(std::move(hooks)), m_schedule(std::move(schedule))
{}

void SubscriptionRefresher::start()
{
    loop(this);
}

QCoro::Task<> SubscriptionRefresher::loop(QPointer<SubscriptionRefresher> self)
{
    try {
        co_await QCoro::sleepFor(self->m_schedule.firstPass);
        while (self) {
            co_await self->refreshDue();
            if (!self)
                co_return;
            co_await QCoro::sleepFor(self->m_schedule.interval);
        }
    } catch (const std::exception& error) {
        qCWarning(lcProfiles, "Subscription refresh stopped: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> SubscriptionRefresher::refreshDue()
{
    QPointer<SubscriptionRefresher> self(this);
    QList<ProfileNode> nodes;
    try {
        nodes = co_await m_profiles.nodes();
    } catch (const std::exception& error) {
        qCWarning(lcProfiles, "Auto-update skipped: %s", qUtf8Printable(describe(error)));
    }
    if (!self)
        co_return;
    const QDateTime now = m_schedule.now();
    for (const ProfileNode& node : nodes) {
        if (!node.updateInterval || !node.lastUpdated ||
            double(node.lastUpdated->msecsTo(now)) / 1000.0 <= *node.updateInterval)
            continue;
        qCDebug(lcProfiles, "Auto-updating: %s", qUtf8Printable(node.name));
        try {
            const ProfileNode updated = co_await m_profiles.updateRemote(node.id);
            if (!self)
                co_return;
            if (m_hooks.activeFileName() == updated.fileName)
                co_await m_hooks.reloadRuntimeConfiguration();
        } catch (const std::exception& error) {
            qCWarning(lcProfiles, "Auto-update failed for %s: %s", qUtf8Printable(node.name),
                      qUtf8Printable(describe(error)));
        }
        if (!self)
            co_return;
    }
    co_await m_hooks.reloadProfileList();
    if (self)
        Q_EMIT passFinished();
}

} // namespace tarnwick
