// `tarnwick history` reads the flow database of a workspace without the application and prints the
// figures the dashboard's history shows.
#include "history/DashboardSnapshot.h"
#include "history/FlowDatabase.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

struct HistoryRun
{
    int status = -1;
    QByteArray out;
    QString err;
};

HistoryRun history(const QStringList& arguments)
{
    QProcess process;
    process.start(binaryDir() + "/bin/tarnwick", QStringList{"history"} + arguments);
    if (!process.waitForFinished(60000))
        process.kill();
    return {process.exitCode(), process.readAllStandardOutput(),
            QString::fromUtf8(process.readAllStandardError())};
}

ConnectionItem flow(const QString& id, const QString& host, const QStringList& chains, qint64 down)
{
    ConnectionItem item;
    item.id = id;
    item.start = QDateTime::currentDateTimeUtc();
    item.chains = chains;
    item.download = down;
    item.rule = "Match";
    item.metadata.host = host;
    return item;
}

} // namespace

TEST(HistoryCommandTest, PrintsTheDashboardsFiguresOfAProfile)
{
    QTemporaryDir workspace;
    DashboardHistory expected;
    {
        FlowDatabase db{workspace.path()};
        db.recordOpened(flow("1", "a.example", {"HK 01", "Proxy"}, 3000), 1, "Home");
        db.recordOpened(flow("2", "b.example", {}, 500), 1, "Home");
        db.recordOpened(flow("3", "c.example", {}, 7), 1, "Work");
        expected = DashboardHistory::load(db, "Home", QDateTime::currentDateTime());
    }
    const HistoryRun json = history({"--workspace", workspace.path(), "--profile", "Home", "--json"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonObject figures = QJsonDocument::fromJson(json.out).object();
    EXPECT_EQ(figures["totalConnections"].toInt(), 2);
    EXPECT_EQ(figures["trafficToday"].toDouble(), 3500);
    EXPECT_EQ(figures["totalRx"].toDouble(), double(expected.totalRx));
    EXPECT_EQ(figures["topDomains"].toArray()[0].toObject()["name"].toString(), "a.example");
    EXPECT_EQ(figures["policyGroupTraffic"].toArray().size(), expected.policyGroupTraffic.size());
    EXPECT_EQ(figures["flowRecords"].toInt(), 3);

    const HistoryRun text = history({"--workspace", workspace.path()});
    ASSERT_EQ(text.status, 0);
    EXPECT_TRUE(text.out.contains("3 connections to 3 hosts")) << text.out.toStdString();
}

TEST(HistoryCommandTest, RefusesBadArgumentsAndAMissingHistory)
{
    QTemporaryDir workspace;
    EXPECT_EQ(history({"--bogus"}).status, 2);
    EXPECT_EQ(history({"--profile"}).status, 2);
    const HistoryRun missing = history({"--workspace", workspace.path()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "No traffic history at " + workspace.filePath("Database/flows.db") + "\n");
    EXPECT_FALSE(QFile::exists(workspace.filePath("Database")));
}
