#include "app/TrafficHistory.h"

#include "config/ClashPaths.h"
#include "history/FlowDatabase.h"
#include "platform/Settings.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

ConnectionItem startedDaysAgo(int days)
{
    ConnectionItem item;
    item.id = QString::number(days);
    item.start = QDateTime::currentDateTimeUtc().addDays(-days);
    item.metadata.host = QStringLiteral("example.com");
    return item;
}

} // namespace

TEST(TrafficHistoryTest, RetentionPurgesAtStartUpUnlessDisabled)
{
    const struct
    {
        std::optional<qint64> days;
        int kept;
    } cases[] = {{std::nullopt, 2}, {30, 1}, {0, 4}, {-5, 4}};
    for (const auto& c : cases) {
        QTemporaryDir dir;
        {
            FlowDatabase db{dir.path()};
            for (int days : {90, 61, 59, 1})
                db.recordOpened(startedDaysAgo(days), 1, {});
        }
        Settings settings{dir.filePath("settings.ini")};
        if (c.days)
            settings.setInteger(TrafficHistory::retentionKey, *c.days);
        TrafficHistory history{ClashPaths(dir.path()), settings};
        ASSERT_NE(history.flowDatabase(), nullptr);
        EXPECT_EQ(history.flowDatabase()->rowCount(), c.kept) << c.days.value_or(-1);
    }
}

TEST(TrafficHistoryTest, DeleteAllDataEmptiesTheFlowsAndKeepsTheGeoCache)
{
    QTemporaryDir dir;
    Settings settings{dir.filePath("settings.ini")};
    TrafficHistory history{ClashPaths(dir.path()), settings};
    FlowDatabase& db = *history.flowDatabase();
    db.recordOpened(startedDaysAgo(0), 1, {});
    db.insertGeoCache({{"example.com", "US", {}, {}}});
    history.deleteAllData();
    EXPECT_EQ(db.rowCount(), 0);
    EXPECT_EQ(db.cachedGeo("example.com")->country, "US");
}

TEST(TrafficHistoryTest, AGarbageDatabaseLeavesTheApplicationWithoutHistory)
{
    QTemporaryDir dir;
    const QByteArray garbage(4096, '\x5a');
    QDir(dir.path()).mkpath("Database");
    writeFile(dir.filePath("Database/flows.db"), garbage);
    Settings settings{dir.filePath("settings.ini")};
    const LogCapture log;
    TrafficHistory history{ClashPaths(dir.path()), settings};
    EXPECT_EQ(history.flowDatabase(), nullptr);
    EXPECT_EQ(history.geoIPResolver(), nullptr);
    EXPECT_TRUE(log.lines().contains(
        "FlowDatabase init failed: FlowDatabase prepare failed: INSERT prepare: file is not "
        "a database"))
        << log.lines().join('\n').toStdString();
    history.deleteAllData();
    QFile file(dir.filePath("Database/flows.db"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
}
