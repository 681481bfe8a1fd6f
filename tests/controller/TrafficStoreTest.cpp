#include "controller/TrafficStore.h"

#include "support/TestSupport.h"

#include <QNetworkAccessManager>

using namespace tarnwick;

namespace {

TrafficSnapshot sample(qint64 upload, qint64 download, const QDateTime& at)
{
    return TrafficSnapshot{QUuid::createUuid(), at, upload, download};
}

} // namespace

TEST(TrafficStoreTest, HistoryTotalsAndGaps)
{
    QNetworkAccessManager network;
    TrafficStore store(MihomoClient(ControllerEndpoint{"127.0.0.1", 9, ""}, &network), 60);
    int updates = 0;
    store.onTrafficUpdate = [&updates] { ++updates; };
    const QDateTime start = QDateTime::currentDateTimeUtc();

    store.applyTraffic(sample(100, 1, start));
    store.applyTraffic(sample(300, 2, start.addSecs(1)));
    EXPECT_EQ(store.totalUpload(), 400);
    EXPECT_EQ(store.currentUpload(), 300);
    EXPECT_EQ(updates, 2);
    for (int i = 2; i <= 61; ++i)
        store.applyTraffic(sample(1, 1, start.addSecs(i)));
    EXPECT_EQ(store.history().size(), 60);
    EXPECT_EQ(store.history().first().timestamp, start.addSecs(2)) << "the oldest go first";

    // Five seconds later joins the stretch; more than five starts a new one.
    store.applyTraffic(sample(1, 1, start.addSecs(66)));
    EXPECT_EQ(store.history().size(), 60);
    store.applyTraffic(sample(1, 1, start.addSecs(72)));
    EXPECT_EQ(store.history().size(), 1);

    store.applyMemory(MemorySnapshot{4096, 0});
    store.stopMonitoring();
    EXPECT_EQ(store.currentUpload(), 0);
    EXPECT_EQ(store.currentMemory(), 0);
    EXPECT_EQ(store.history().size(), 1) << "stopping keeps history and totals";
    EXPECT_EQ(store.totalUpload(), 400 + 62);
    store.resetStatistics();
    EXPECT_EQ(store.totalUpload(), 0);
    EXPECT_TRUE(store.history().isEmpty());
}
