// The commands that need no running application, `tarnwick yaml`, `tarnwick compile` and `tarnwick history`
// (the dashboard's history figures from a workspace's flow database), run as the real executable with
// settings of the test's own.

#include "config/yaml/NativeValue.h"
#include "history/DashboardSnapshot.h"
#include "history/FlowDatabase.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};

class OfflineCommandsTest : public ::testing::Test
{
protected:
    CliRun tarnwick(const QStringList& arguments) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARNWICK_SETTINGS", path("settings.ini"));
        process.setProcessEnvironment(environment);
        process.start(binaryDir() + "/bin/tarnwick", arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

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

TEST_F(OfflineCommandsTest, YamlPrintsEveryDocumentAsOneLineOfJson)
{
    writeFile(path("first.yaml"), "\xEF\xBB\xBF"
                                  "name: 🇭🇰 香港\r\nport: 0x1F\r\npassword: !!str 0123\r\n"
                                  "url: https://example.com/a\r\n---\n- [1, '2', 3.5]\n");
    writeFile(path("second.yaml"), "base: &b {a: 1}\nx: {<<: *b, c: ~}\n");

    const CliRun run = tarnwick({"yaml", path("first.yaml"), path("second.yaml")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("{\"name\":\"🇭🇰 香港\",\"password\":\"0123\",\"port\":31,"
                                      "\"url\":\"https://example.com/a\"}\n"
                                      "[[1,\"2\",3.5]]\n"
                                      "{\"base\":{\"a\":1},\"x\":{\"a\":1,\"c\":null}}\n"));
    EXPECT_EQ(run.err, QString());
}

TEST_F(OfflineCommandsTest, CompilePrintsOrWritesTheRuntimeConfiguration)
{
    writeFile(path("settings.ini"), "[General]\nmixedPort=7999\nquicBlockMode=off\n");
    writeFile(path("profile.yaml"), "mixed-port: 1\nproxies: []\nrules:\n  - DOMAIN,a.example/x,DIRECT\n");

    const CliRun printed = tarnwick({"compile", path("profile.yaml")});
    ASSERT_EQ(printed.status, 0) << printed.err.toStdString();
    EXPECT_TRUE(printed.err.startsWith("note: profile.yaml sets mixed-port")) << printed.err.toStdString();
    const NativeValue config = NativeValue::fromJson(printed.out.toUtf8());
    EXPECT_EQ(config.value("mixed-port"), NativeValue(7999));
    EXPECT_EQ(config.value("rules"), NativeValue(NativeValue::Array{"DOMAIN,a.example/x,DIRECT"}));

    const CliRun written = tarnwick({"compile", path("profile.yaml"), "-o", path("out/config.json")});
    ASSERT_EQ(written.status, 0) << written.err.toStdString();
    EXPECT_EQ(written.out, QString());
    EXPECT_EQ(readFile(path("out/config.json")) + QLatin1Char('\n'), printed.out);
}

TEST_F(OfflineCommandsTest, FailuresAreReportedAndWriteNothing)
{
    writeFile(path("good.yaml"), "a: 1\n");
    writeFile(path("bad.yaml"), "ok: 1\n---\nproxies:\n  - {name: \"a\"b\"}\n");
    writeFile(path("comments.yaml"), "# nothing here\n");
    writeFile(path("mistyped.yaml"), "proxies:\n  - {name: a, port: !!int 80a}\n");
    writeFile(path("out.json"), "previous");
    const QString missing = path("missing.yaml");
    const QString yamlUsage = "usage: tarnwick yaml FILE...\n";
    const QString compileUsage = "usage: tarnwick compile PROFILE [-o FILE]\n";
    const QString out = path("out.json");

    struct Case
    {
        QStringList arguments;
        int status;
        QString out;
        QString err; // exact, or the start of it when it ends with ": "
    };
    const std::vector<Case> cases = {
        // yaml prints what it read before the first error and stops there.
        {QStringList{"yaml", path("good.yaml"), path("bad.yaml"), path("good.yaml")}, 1,
         "{\"a\":1}\n{\"ok\":1}\n",
         path("bad.yaml") + ":4:15: parser error: unexpected token in flow: a scalar\n"},
        {QStringList{"yaml", missing}, 1, "", "tarnwick: cannot read " + missing + ": "},
        {QStringList{"yaml"}, 2, "", yamlUsage},
        // compile leaves the previous output in place.
        {QStringList{"compile", path("comments.yaml"), "-o", out}, 1, "",
         "Subscription YAML is empty or contains only comments.\n"},
        {QStringList{"compile", path("mistyped.yaml"), "-o", out}, 1, "",
         path("mistyped.yaml") + ":2:27: conversion error: '80a' does not fit the tag !!int\n"},
        {QStringList{"compile", missing}, 1, "", "Could not read " + missing + ": "},
        {QStringList{"compile"}, 2, "", compileUsage},
        {QStringList{"compile", "a.yaml", "-o"}, 2, "", compileUsage},
        {QStringList{"compile", "a.yaml", "b.yaml"}, 2, "", compileUsage},
        {QStringList{"compile", path("out.json"), "-o", path("out.json")}, 2, "",
         "tarnwick: compile would overwrite the profile it reads (" + path("out.json") +
             "); write the runtime configuration to another file\n"},
        // Help is never taken for a file.
        {QStringList{"yaml", "--help"}, 0,
         "usage: tarnwick yaml FILE...\n\nprint each YAML document as one line of JSON\n", ""},
    };
    for (const Case& c : cases) {
        const CliRun run = tarnwick(c.arguments);
        const std::string what = c.arguments.join(u' ').toStdString();
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_EQ(run.out, c.out) << what;
        if (c.err.endsWith(": "))
            EXPECT_TRUE(run.err.startsWith(c.err)) << what << ": " << run.err.toStdString();
        else
            EXPECT_EQ(run.err, c.err) << what;
    }
    EXPECT_EQ(readFile(out), "previous");
}

TEST_F(OfflineCommandsTest, CompileSaysOnceWhichSettingDecidesWhatTheProfileSets)
{
    writeFile(path("settings.ini"), "[General]\nmixedPort=7999\n");
    writeFile(path("profile.yaml"), "mixed-port: 1\nlog-level: debug\ndns: {enable: true}\nmode: rule\n"
                                    "proxies: []\nrules: [MATCH,DIRECT]\n");
    const CliRun run = tarnwick({"compile", path("profile.yaml")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              QStringLiteral("note: profile.yaml sets dns, but the settings enableDNS, dnsEnhancedMode, "
                             "dnsIPv6 … decide it; see them with: tarnwick settings\n"
                             "note: profile.yaml sets log-level, but the setting logLevel decides it (now "
                             "silent); change it with: tarnwick settings logLevel VALUE\n"
                             "note: profile.yaml sets mixed-port, but the setting mixedPort decides it (now "
                             "7999); change it with: tarnwick settings mixedPort VALUE\n"));
}

TEST_F(OfflineCommandsTest, HistoryPrintsTheDashboardsFiguresOfAProfile)
{
    const QString workspace = path("workspace");
    DashboardHistory expected;
    {
        FlowDatabase db{workspace};
        db.recordOpened(flow("1", "a.example", {"HK 01", "Proxy"}, 3000), 1, "Home");
        db.recordOpened(flow("2", "b.example", {}, 500), 1, "Home");
        db.recordOpened(flow("3", "c.example", {}, 7), 1, "Work");
        expected = DashboardHistory::load(db, "Home", QDateTime::currentDateTime());
    }
    const CliRun json = tarnwick({"history", "--workspace", workspace, "--profile", "Home", "--json"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonObject figures = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(figures["totalConnections"].toInt(), 2);
    EXPECT_EQ(figures["trafficToday"].toDouble(), 3500);
    EXPECT_EQ(figures["totalRx"].toDouble(), double(expected.totalRx));
    EXPECT_EQ(figures["topDomains"].toArray()[0].toObject()["name"].toString(), "a.example");
    EXPECT_EQ(figures["policyGroupTraffic"].toArray().size(), expected.policyGroupTraffic.size());
    EXPECT_EQ(figures["flowRecords"].toInt(), 3);

    const CliRun text = tarnwick({"history", "--workspace", workspace});
    ASSERT_EQ(text.status, 0);
    EXPECT_TRUE(text.out.contains("3 connections to 3 hosts")) << text.out.toStdString();

    EXPECT_EQ(tarnwick({"history", "--bogus"}).status, 2);
    EXPECT_EQ(tarnwick({"history", "--profile"}).status, 2);
    ASSERT_TRUE(QDir().mkpath(path("empty")));
    const CliRun missing = tarnwick({"history", "--workspace", path("empty")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "No traffic history at " + path("empty/Database/flows.db") + "\n");
    EXPECT_FALSE(QFile::exists(path("empty/Database")));
}
