#include "controller/LogStore.h"

#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

using namespace tarnwick;

namespace {

LogEntry line(int n)
{
    return LogEntry{QString::number(n), "info", QStringLiteral("line %1").arg(n), "10:00:00"};
}

} // namespace

TEST(LogStoreTest, BatchedCappedAndExported)
{
    QNetworkAccessManager network;
    LogStore store(MihomoClient(ControllerEndpoint{"127.0.0.1", 9, ""}, &network), 2000);
    int publications = 0;
    QObject::connect(&store, &LogStore::entriesChanged, [&publications] { ++publications; });

    QList<LogEntry> burst;
    for (int n = 0; n < 2500; ++n)
        burst.append(line(n));
    store.receive(burst.first(1000));
    store.receive(burst.sliced(1000));
    EXPECT_EQ(publications, 0) << "nothing is published before the flush";
    ASSERT_TRUE(test::waitFor([&] { return publications > 0; }));
    EXPECT_EQ(publications, 1);
    ASSERT_EQ(store.entries().size(), 2000);
    EXPECT_EQ(store.entries().first().message, "line 500");
    EXPECT_EQ(store.entries().last().message, "line 2499");
    // With nothing arriving, observers are not woken.
    EXPECT_FALSE(test::waitFor([&] { return publications > 1; }, LogStore::flushInterval * 3));
    store.receive({line(2500)});
    store.stopStreaming();
    EXPECT_EQ(store.entries().last().message, "line 2500") << "a pause keeps what arrived";

    const QList<LogEntry> exported{{"a", "warning", "dial failed", "10:15:02"},
                                   {"b", "info", "up", std::nullopt}};
    EXPECT_EQ(LogStore::exportText(exported), "[10:15:02] [WARNING] dial failed\n[] [INFO] up");
    EXPECT_EQ(LogStore::exportFileName(QDateTime(QDate(2024, 5, 1), QTime(9, 3, 7))),
              "Tarnwick_Logs_2024-05-01-090307.txt");
    QTemporaryDir dir;
    store.exportTo(dir.filePath("logs.txt"));
    EXPECT_EQ(test::readFile(dir.filePath("logs.txt")), LogStore::exportText(store.entries()));
    store.clear();
    EXPECT_TRUE(store.entries().isEmpty());
}
