#include "history/FlowDatabase.h"

#include "FlowFixtures.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <signal.h>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

struct Stored
{
    const char* what;
    ConnectionItem item;
    QString column;
    QVariant expected;
};

ConnectionItem withMetadata(const std::function<void(ConnectionItem&)>& change)
{
    ConnectionItem item = connection({.id = "c", .start = QDateTime::currentDateTimeUtc()});
    change(item);
    return item;
}

} // namespace

TEST(FlowDatabaseTest, StoresEachConnectionFieldAsDerived)
{
    const QString longHost = QString(10240, u'h') + ".example";
    const QList<Stored> cases = {
        {"empty chains", withMetadata([](auto& c) { c.chains.clear(); }), "outbound_node", "DIRECT"},
        {"empty chains", withMetadata([](auto& c) { c.chains.clear(); }), "chains", "[]"},
        {"chains", withMetadata([](auto& c) {
             c.chains = {"HK 01", "Proxy"};
         }),
         "chains", R"(["HK 01","Proxy"])"},
        {"port abc", withMetadata([](auto& c) { c.metadata.destinationPort = "abc"; }), "target_port", 0},
        {"port empty", withMetadata([](auto& c) { c.metadata.destinationPort = ""; }), "target_port", 0},
        {"port +443", withMetadata([](auto& c) { c.metadata.destinationPort = "+443"; }), "target_port", 443},
        {"port -7", withMetadata([](auto& c) { c.metadata.destinationPort = "-7"; }), "target_port", -7},
        {"port too big", withMetadata([](auto& c) { c.metadata.destinationPort = "2147483648"; }),
         "target_port", 0},
        {"port 1 2", withMetadata([](auto& c) { c.metadata.destinationPort = "1 2"; }), "target_port", 0},
        {"sniffed host", withMetadata([](auto& c) {
             c.metadata.host.clear();
             c.metadata.sniffHost = "sniffed.example";
             c.metadata.destinationIP = "1.1.1.1";
         }),
         "target_host", "sniffed.example"},
        {"address only", withMetadata([](auto& c) { c.metadata.destinationIP = "1.1.1.1"; }), "target_host",
         "1.1.1.1"},
        {"long host", withMetadata([&](auto& c) { c.metadata.host = longHost; }), "target_host", longHost},
        {"bad UTF-8 path",
         withMetadata([](auto& c) { c.metadata.processPath = QString::fromUtf8("/usr/bin/\xff\xfe"); }),
         "process_path", QString::fromUtf8("/usr/bin/\xff\xfe")},
        {"empty rule", withMetadata([](auto& c) { c.rule.clear(); }), "rule", ""},
        {"session", withMetadata([](auto&) {}), "session_id", 7},
        {"profile", withMetadata([](auto&) {}), "profile_name", "Work"},
        {"open row", withMetadata([](auto&) {}), "close_reason", QVariant()},
    };
    QTemporaryDir dir;
    FlowDatabase db{dir.path()};
    for (const Stored& c : cases)
        db.recordOpened(c.item, 7, "Work");
    ASSERT_EQ(db.rowCount(), cases.size());
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const QVariantList value =
            column(db.filePath(),
                   QStringLiteral("SELECT %1 FROM flows WHERE id = %2").arg(cases[i].column).arg(i + 1));
        ASSERT_EQ(value.size(), 1) << cases[i].what;
        EXPECT_EQ(value[0], cases[i].expected) << cases[i].what;
    }
}

TEST(FlowDatabaseTest, ReopeningKeepsRowsAndTheMigratedColumn)
{
    QTemporaryDir dir;
    for (int round = 0; round < 2; ++round) {
        FlowDatabase db{dir.path()};
        db.recordOpened(
            connection({.id = "c", .start = QDateTime::currentDateTimeUtc(), .sourceIP = "10.0.0.2"}), 1, {});
        EXPECT_EQ(db.rowCount(), round + 1);
    }
    const QVariantList columns =
        column(QDir(dir.path()).filePath("Database/flows.db"), "SELECT name FROM pragma_table_info('flows')");
    EXPECT_EQ(columns.size(), 24);
    EXPECT_EQ(columns.last(), "source_ip");
}

TEST(FlowDatabaseTest, CloseOutTouchesOnlyTheNewestRowOfAReusedID)
{
    QTemporaryDir dir;
    FlowDatabase db{dir.path()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    db.recordOpened(connection({.id = "same", .start = now.addSecs(-60), .upload = 1, .download = 2}), 1, {});
    db.recordOpened(connection({.id = "same", .start = now, .upload = 3, .download = 4}), 1, {});
    db.recordClosed(connection({.id = "same", .start = now, .upload = 30, .download = 40}));
    db.recordClosed(connection({.id = "never-opened", .start = now, .upload = 5, .download = 6}));
    EXPECT_EQ(db.rowCount(), 2);
    const QString path = db.filePath();
    EXPECT_EQ(
        column(path, "SELECT tx_bytes || '/' || rx_bytes || '/' || IFNULL(close_reason, '-') FROM flows"),
        (QVariantList{"1/2/-", "30/40/vanished"}));
    EXPECT_EQ(column(path, "SELECT ts_end IS NOT NULL FROM flows"), (QVariantList{0, 1}));

    // A stored row that starts later than one just recorded is still the one closed out.
    db.recordOpened(connection({.id = "same", .start = now.addSecs(-30), .upload = 5, .download = 6}), 1, {});
    db.recordClosed(connection({.id = "same", .start = now, .upload = 50, .download = 60}));
    EXPECT_EQ(db.rowCount(), 3);
    EXPECT_EQ(
        column(path, "SELECT tx_bytes || '/' || rx_bytes || '/' || IFNULL(close_reason, '-') FROM flows"),
        (QVariantList{"1/2/-", "50/60/vanished", "5/6/-"}));
}

TEST(FlowDatabaseTest, PurgeKeepsNewerFlowsAndDeleteAllKeepsTheGeoCache)
{
    QTemporaryDir dir;
    FlowDatabase db{dir.path()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int days : {90, 61, 59, 1})
        db.recordOpened(
            connection({.id = QString::number(days), .start = now.addDays(-days), .host = "a.example"}), 1,
            {});
    db.insertGeoCache({{"a.example", "US", "AS15169", "Google LLC"}, {"10.0.0.1", "LAN", {}, {}}});
    db.purge(now.addDays(-60));
    ASSERT_EQ(db.rowCount(), 2);
    EXPECT_EQ(column(db.filePath(), "SELECT connection_id FROM flows ORDER BY ts_start"),
              (QVariantList{"59", "1"}));
    EXPECT_EQ(db.trafficByDomain(FlowDatabase::distantPast(), {}, 5).size(), 1);

    // Delete All Data: an hour ahead also takes rows that start slightly in the future.
    db.recordOpened(connection({.id = "soon", .start = now.addSecs(600)}), 1, {});
    db.purge(now.addSecs(3600));
    db.vacuum();
    EXPECT_EQ(db.rowCount(), 0);
    EXPECT_EQ(db.connectionCount(FlowDatabase::distantPast(), {}), 0);
    EXPECT_EQ(db.cachedGeo("a.example"), (GeoCacheEntry{"a.example", "US", "AS15169", "Google LLC"}));
    EXPECT_EQ(db.cachedGeo("10.0.0.1"), (GeoCacheEntry{"10.0.0.1", "LAN", {}, {}}));
}

TEST(FlowDatabaseTest, GeoCacheKeepsTheFirstAnswerAndListsWhatIsUnresolved)
{
    QTemporaryDir dir;
    FlowDatabase db{dir.path()};
    db.recordOpened(connection({.id = "1",
                                .start = QDateTime::currentDateTimeUtc(),
                                .host = "a.example",
                                .destinationIP = "8.8.8.8",
                                .remote = "5.5.5.5",
                                .sourceIP = "192.168.1.2"}),
                    1, {});
    db.recordOpened(connection({.id = "2", .start = QDateTime::currentDateTimeUtc(), .host = "b.example"}), 1,
                    {});
    db.insertGeoCache({{"8.8.8.8", "US", {}, {}}, {"not an address", "Unresolved", {}, {}}});
    db.insertGeoCache({{"8.8.8.8", "DE", {}, {}}});
    EXPECT_EQ(db.cachedGeo("8.8.8.8")->country, "US");
    QStringList unresolved = db.unresolvedIPs(10);
    unresolved.sort();
    EXPECT_EQ(unresolved, (QStringList{"127.0.0.1", "192.168.1.2", "5.5.5.5", "b.example"}));
    EXPECT_EQ(db.unresolvedIPs(2).size(), 2);
    EXPECT_TRUE(db.unresolvedIPs(0).isEmpty());
}

TEST(FlowDatabaseTest, AFileThatIsNotADatabaseIsRefusedAndLeftAsItWas)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("Database");
    const QString path = QDir(dir.path()).filePath("Database/flows.db");
    QByteArray garbage(8192, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 131 + 7) % 251);
    writeFile(path, garbage);
    try {
        FlowDatabase db{dir.path()};
        FAIL() << "opened a garbage file";
    } catch (const FlowDatabaseError& e) {
        EXPECT_EQ(e.description(), "FlowDatabase prepare failed: INSERT prepare: file is not a database");
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
}

TEST(FlowDatabaseTest, KillDuringWritesLeavesASoundFileWithEveryCommittedRow)
{
    QTemporaryDir dir;
    QProcess writer;
    writer.start(TARNWICK_FLOW_WRITER, {dir.path()});
    qint64 committed = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            while (writer.canReadLine())
                committed = writer.readLine().trimmed().toLongLong();
            return committed >= 30000;
        },
        std::chrono::seconds(60)));
    ::kill(pid_t(writer.processId()), SIGKILL);
    writer.waitForFinished(10000);

    const QString path = QDir(dir.path()).filePath("Database/flows.db");
    EXPECT_EQ(column(path, "PRAGMA integrity_check"), QVariantList{"ok"});
    // Checkpoints keep the write-ahead log small while writes go on.
    EXPECT_LT(QFileInfo(path + "-wal").size(), 32 << 20);
    EXPECT_GE(column(path, "SELECT COUNT(*) FROM flows")[0].toLongLong(), committed);
    FlowDatabase reopened{dir.path()};
    EXPECT_GE(reopened.connectionCount(FlowDatabase::distantPast(), {}), committed);
}
