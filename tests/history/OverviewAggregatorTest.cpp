#include "history/OverviewAggregator.h"

#include "FlowFixtures.h"
#include "history/FlowDatabase.h"
#include "support/TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

TEST(OverviewAggregatorTest, PublishesLiveFiguresAndTheProfilesHistory)
{
    QTemporaryDir dir;
    FlowDatabase db{dir.path()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    db.recordOpened(connection({.id = "1", .start = now, .host = "a.example", .download = 40}), 1, "Home");
    db.recordOpened(connection({.id = "2", .start = now, .host = "b.example", .download = 2}), 1, "Work");

    int liveUpdates = 0;
    OverviewAggregator aggregator{[&](DashboardSnapshot& s) { s.activeConnections = ++liveUpdates; }, &db,
                                  [] { return std::optional<QString>("Home"); }};
    aggregator.start();
    ASSERT_TRUE(waitFor([&] { return aggregator.snapshot().history.totalConnections == 1; }));
    EXPECT_EQ(aggregator.snapshot().history.topDomains, (QList<NamedBytes>{{"a.example", 40}}));
    EXPECT_TRUE(waitFor([&] { return aggregator.snapshot().activeConnections >= 2; }));

    // The next history load sees new flows; stopping ends both loops.
    db.recordOpened(connection({.id = "3", .start = now, .host = "c.example"}), 1, "Home");
    EXPECT_TRUE(waitFor([&] { return aggregator.snapshot().history.totalConnections == 2; },
                        std::chrono::seconds(15)));
    aggregator.stop();
    EXPECT_FALSE(aggregator.isRunning());
}

TEST(OverviewAggregatorTest, WithoutADatabaseOnlyTheLiveFiguresChange)
{
    OverviewAggregator aggregator{[](DashboardSnapshot& s) { s.uploadRate = 7; }, nullptr, {}};
    aggregator.start();
    EXPECT_EQ(aggregator.snapshot().uploadRate, 7);
    EXPECT_EQ(aggregator.snapshot().history, DashboardHistory{});
}
