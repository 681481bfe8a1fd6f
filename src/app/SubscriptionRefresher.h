#pragma once

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <optional>

namespace tarnwick {

class ProfileStore;

// The scheduled refresh of remote profiles: a while after launch and then every half hour, each profile
// whose interval has passed since its last update is downloaded again, one after the other; when it is
// the active profile the running kernel reloads it. A failed refresh is logged and is due again at the
// next pass. Lives as long as its owner.
class SubscriptionRefresher final : public QObject
{
    Q_OBJECT

public:
    struct Schedule
    {
        std::chrono::milliseconds firstPass{std::chrono::seconds(60)};
        std::chrono::milliseconds interval{std::chrono::minutes(30)};
        // The current time; tests move it.
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    };
    struct Hooks
    {
        // The file name of the active profile, if any.
        std::function<std::optional<QString>()> activeFileName;
        std::function<QCoro::Task<>()> reloadRuntimeConfiguration;
        std::function<QCoro::Task<>()> reloadProfileList;
    };

    SubscriptionRefresher(ProfileStore& profiles, Hooks hooks, Schedule schedule, QObject* parent = nullptr);

    // Starts the loop; it ends with this object.
    void start();
    // One pass over the profiles, as the loop runs it. Never throws.
    QCoro::Task<> refreshDue();

Q_SIGNALS:
    void passFinished();

private:
    static QCoro::Task<> loop(QPointer<SubscriptionRefresher> self);

    ProfileStore& m_profiles;
    Hooks m_hooks;
    Schedule m_schedule;
};

} // namespace tarnwick
