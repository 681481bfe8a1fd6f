// The scheduled refresh of remote profiles against a subscription server on this machine, with the clock
// moved forward instead of waited for.
#include "app/SubscriptionRefresher.h"

#include "config/ProfileStore.h"
#include "config/SubscriptionManager.h"
#include "platform/Settings.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QAtomicInt>
#include <QMutex>
#include <QTemporaryDir>
#include <atomic>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

constexpr double kDay = 86400;

class SubscriptionRefresherTest : public ::testing::Test
{
protected:
    SubscriptionRefresherTest()
        : m_paths(m_dir.filePath(QStringLiteral("workspace"))),
          m_settings(m_dir.filePath(QStringLiteral("settings.ini"))),
          m_subscriptions(m_paths.profilesDirectory() + QStringLiteral("subscription_ledger.json"),
                          m_settings),
          m_store(m_paths, m_settings, &m_subscriptions),
          m_server([this](const test::HttpRequest& request) { return serve(request); })
    {
        m_paths.prepare();
    }

    // Every download a fresh profile; "/broken" fails while m_broken is set. When a request comes, the
    // profile served before it must already be on disk: the refresh never has two downloads going.
    test::HttpResponse serve(const test::HttpRequest& request)
    {
        const int n = ++m_served;
        const QMutexLocker locker(&m_mutex);
        if (!m_lastFile.isEmpty() &&
            !test::readFile(m_lastFile).contains(QStringLiteral("served %1\n").arg(n - 1)))
            m_overlapped = true;
        m_lastFile.clear();
        if (request.path == "/broken" && m_broken)
            return {500, {}, "down", false};
        m_lastFile = m_files.value(request.path);
        return {200,
                {},
                "proxies: []\nrules:\n  - MATCH,DIRECT\n# served " + QByteArray::number(n) + "\n",
                false};
    }

    ProfileNode import(const QString& path, const QString& name, double interval)
    {
        ProfileNode node = test::await(m_store.importRemote(m_server.url(path), name, interval));
        const QMutexLocker locker(&m_mutex);
        m_files.insert(path.toUtf8(), m_paths.profilesDirectory() + node.fileName);
        m_lastFile.clear();
        return node;
    }

    std::unique_ptr<SubscriptionRefresher> refresher(std::optional<QString> active,
                                                     SubscriptionRefresher::Schedule schedule)
    {
        SubscriptionRefresher::Hooks hooks{[active] { return active; },
                                           [this]() -> QCoro::Task<> {
                                               ++m_reloads;
                                               co_return;
                                           },
                                           []() -> QCoro::Task<> { co_return; }};
        return std::make_unique<SubscriptionRefresher>(m_store, std::move(hooks), std::move(schedule));
    }

    QTemporaryDir m_dir;
    ClashPaths m_paths;
    Settings m_settings;
    SubscriptionManager m_subscriptions;
    ProfileStore m_store;
    QAtomicInt m_served = 0;
    QMutex m_mutex;
    QHash<QByteArray, QString> m_files; // request path → profile file
    QString m_lastFile;
    std::atomic<bool> m_broken = false;
    std::atomic<bool> m_overlapped = false;
    int m_reloads = 0;
    test::TestHttpServer m_server;
};

} // namespace

TEST_F(SubscriptionRefresherTest, RefreshesDueProfilesInOrderOneAtATimeAndRetriesFailures)
{
    const ProfileNode daily = import(QStringLiteral("/daily"), QStringLiteral("Daily"), 2 * kDay);
    const ProfileNode weekly = import(QStringLiteral("/weekly"), QStringLiteral("Weekly"), 7 * kDay);
    const ProfileNode broken = import(QStringLiteral("/broken"), QStringLiteral("Broken"), kDay);
    import(QStringLiteral("/often"), QStringLiteral("Often"), 1.5 * kDay);
    const qsizetype imports = m_server.requests().size();
    m_broken = true;

    // 49 hours later all but the weekly one are due, refreshed in list order; only the active one reloads.
    QDateTime now = QDateTime::currentDateTimeUtc().addSecs(49 * 3600);
    SubscriptionRefresher::Schedule schedule;
    schedule.now = [&now] { return now; };
    const auto first = refresher(daily.fileName, schedule);
    test::await(first->refreshDue());
    const QStringList order = m_server.requestLines().mid(imports);
    QStringList expected;
    for (const ProfileNode& node : test::await(m_store.nodes())) {
        if (node.id != weekly.id)
            expected.append(node.url->mid(m_server.url().size()));
    }
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(m_overlapped);
    EXPECT_EQ(m_reloads, 1);

    // The broken one kept its old time, so a later pass tries it again; the refreshed ones are not due.
    m_broken = false;
    now = QDateTime::currentDateTimeUtc().addSecs(25 * 3600);
    test::await(first->refreshDue());
    EXPECT_EQ(m_server.requestLines().mid(imports + order.size()), QStringList{QStringLiteral("/broken")});
    const QList<ProfileNode> nodes = test::await(m_store.nodes());
    const auto refreshed =
        std::find_if(nodes.cbegin(), nodes.cend(), [&](const ProfileNode& n) { return n.id == broken.id; });
    ASSERT_NE(refreshed, nodes.cend());
    EXPECT_GT(*refreshed->lastUpdated, *broken.lastUpdated);
    EXPECT_EQ(m_reloads, 1);
}

TEST_F(SubscriptionRefresherTest, PassesRunAfterTheFirstDelayAndThenAtEveryInterval)
{
    import(QStringLiteral("/daily"), QStringLiteral("Daily"), kDay);
    SubscriptionRefresher::Schedule schedule;
    schedule.firstPass = 50ms;
    schedule.interval = 100ms;
    QDateTime now = QDateTime::currentDateTimeUtc();
    schedule.now = [&now] { return now; };
    const auto loop = refresher(std::nullopt, schedule);
    int passes = 0;
    QObject::connect(loop.get(), &SubscriptionRefresher::passFinished, [&] { ++passes; });
    loop->start();
    ASSERT_TRUE(test::waitFor([&] { return passes == 1; }));
    EXPECT_EQ(m_server.requests().size(), 1); // nothing was due yet
    now = now.addDays(2);
    ASSERT_TRUE(test::waitFor([&] { return passes >= 2 && m_server.requests().size() == 2; }));
}
