// The `tarnwick` tool as a user runs it: the real executable against a real headless application that runs
// the real kernel, through every command of the control socket.
#include "platform/HelperRegistration.h"
#include "platform/Settings.h"
#include "runtime/GitHubReleaseService.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

struct CliRun
{
    int status = -1;
    QString out;
    QString err;

    QJsonObject object() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    QJsonArray list() const { return QJsonDocument::fromJson(out.toUtf8()).array(); }
};

QByteArray gzip(const QString& file)
{
    QProcess process;
    process.start(QStringLiteral("gzip"), {QStringLiteral("-1"), QStringLiteral("-c"), file});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

QStringList keys(const QJsonObject& object)
{
    return object.keys();
}

class CliAppTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.terminate();
            m_app.waitForFinished(15000);
        }
        HelperRegistration::Options options;
        options.socketPath = m_dir.filePath(QStringLiteral("run/helper.sock"));
        options.systemctl = QStringLiteral("/bin/false");
        test::await(HelperRegistration(options).unregisterService());
    }

    // A fresh home with a kernel installed and the release feed on this machine; the application runs
    // the seeded profile.
    bool startApp(const QString& kernel, const QString& geodata)
    {
        const QString workspace = m_dir.filePath(QStringLiteral("workspace"));
        QDir().mkpath(workspace + QStringLiteral("/core/versions/v1.19.30"));
        QDir().mkpath(workspace + QStringLiteral("/work"));
        QFile::copy(kernel, workspace + QStringLiteral("/core/versions/v1.19.30/mihomo"));
        QFile::link(QStringLiteral("versions/v1.19.30/mihomo"), workspace + QStringLiteral("/core/current"));
        QFile::copy(geodata, workspace + QStringLiteral("/work/Country.mmdb"));
        {
            Settings settings(m_dir.filePath(QStringLiteral("settings.ini")));
            for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
                settings.setText(QString::fromLatin1(key), m_feed.apiBase() + QStringLiteral("/no-geodata"));
            settings.setText(QStringLiteral("releases.apiBaseURL"), m_feed.apiBase());
            settings.setBoolean(QStringLiteral("update.autoCheck"), false);
            settings.setInteger(QStringLiteral("apiPort"), test::freePort());
            settings.setInteger(QStringLiteral("mixedPort"), test::freePort());
        }
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("HOME"), m_dir.path());
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        m_environment.insert(QStringLiteral("TARNWICK_SETTINGS"),
                             m_dir.filePath(QStringLiteral("settings.ini")));
        m_environment.insert(QStringLiteral("TARNWICK_WORKSPACE"), workspace);
        m_environment.insert(QStringLiteral("TARNWICK_HELPER_SOCKET"),
                             m_dir.filePath(QStringLiteral("run/helper.sock")));
        m_environment.remove(QStringLiteral("TARNWICK_APP_SOCKET"));
        m_app.setProcessEnvironment(m_environment);
        m_app.setProcessChannelMode(QProcess::MergedChannels);
        m_app.start(test::binaryDir() + QStringLiteral("/bin/tarnwick-app"), {QStringLiteral("--headless")});
        return test::waitFor(
            [&] {
                m_log += m_app.readAll();
                return m_log.contains("Global API override applied successfully.");
            },
            30s);
    }

    CliRun tarnwick(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(test::binaryDir() + QStringLiteral("/bin/tarnwick"), arguments);
        // The application answers while this waits: it is another process.
        if (!process.waitForFinished(90000))
            process.kill();
        m_log += m_app.readAll();
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QTemporaryDir m_dir;
    test::ReleaseFeedServer m_feed;
    QProcessEnvironment m_environment;
    QProcess m_app;
    QByteArray m_log;
};

} // namespace

TEST_F(CliAppTest, DrivesTheRunningApplicationThroughEveryCommand)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(geodata);
    ASSERT_TRUE(startApp(kernel, geodata)) << m_log.toStdString();
    const QString socket = m_dir.filePath(QStringLiteral(".config/tarnwick/app.sock"));
    EXPECT_EQ(QFile::permissions(socket) & 0777, QFile::ReadOwner | QFile::WriteOwner);

    CliRun status = tarnwick({QStringLiteral("status"), QStringLiteral("--json")});
    ASSERT_EQ(status.status, 0) << status.err.toStdString();
    EXPECT_EQ(keys(status.object()),
              (QStringList{"groups", "kernel", "mode", "profile", "providers", "version"}));
    EXPECT_EQ(status.object().value("kernel"), QStringLiteral("running"));
    EXPECT_EQ(status.object().value("profile"), QStringLiteral("Default"));
    EXPECT_EQ(status.object().value("version"), QStringLiteral("v1.19.30"));
    EXPECT_EQ(status.object().value("mode"), QStringLiteral("rule"));
    // The seeded profile's one group, and the kernel's own GLOBAL.
    EXPECT_EQ(status.object().value("groups"), QStringLiteral("2"));
    status = tarnwick({QStringLiteral("status")});
    EXPECT_TRUE(status.out.contains(QRegularExpression(QStringLiteral("Kernel: +running \\(v1.19.30\\)\n"))))
        << status.out.toStdString();

    const CliRun profiles = tarnwick({QStringLiteral("profiles"), QStringLiteral("--json")});
    EXPECT_EQ(profiles.object(), QJsonDocument::fromJson(R"({"active":"Default","fileNames":"Default.yaml",
                                                              "profiles":"Default"})")
                                     .object());
    EXPECT_EQ(tarnwick({QStringLiteral("profiles")}).out,
              QStringLiteral("   NAME     FILE\n*  Default  Default.yaml\n"));

    EXPECT_EQ(tarnwick({QStringLiteral("mode"), QStringLiteral("global")}).out, QStringLiteral("global\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("mode"), QStringLiteral("--json")}).object(),
              (QJsonObject{{"mode", "global"}}));

    const CliRun health = tarnwick({QStringLiteral("health"), QStringLiteral("--json")});
    ASSERT_EQ(health.status, 0) << health.err.toStdString();
    ASSERT_FALSE(health.list().isEmpty());
    const QJsonObject proxy = health.list().first().toObject();
    EXPECT_EQ(keys(proxy), (QStringList{"alive", "fastest", "fastestDelay", "group", "total"}));
    const CliRun providers = tarnwick({QStringLiteral("providers"), QStringLiteral("--json")});
    EXPECT_EQ(providers.status, 0);
    EXPECT_EQ(providers.out.trimmed(), QStringLiteral("[\n]"));

    const CliRun missing = tarnwick({QStringLiteral("switch"), QStringLiteral("Nowhere")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, QStringLiteral("Profile not found: Nowhere\n"));
    const CliRun switched =
        tarnwick({QStringLiteral("switch"), QStringLiteral("Default.yaml"), QStringLiteral("--json")});
    EXPECT_EQ(switched.object(), (QJsonObject{{"profile", "Default"}, {"fileName", "Default.yaml"}}));

    EXPECT_EQ(tarnwick({QStringLiteral("stop")}).status, 0);
    EXPECT_EQ(tarnwick({QStringLiteral("status"), QStringLiteral("--json")}).object().value("kernel"),
              QStringLiteral("stopped"));
    EXPECT_EQ(tarnwick({QStringLiteral("health")}).err, QStringLiteral("Kernel is not running\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("start")}).status, 0);
    EXPECT_EQ(tarnwick({QStringLiteral("restart"), QStringLiteral("--json")}).object(), QJsonObject());

    // A newer stable kernel on the feed: found, installed, and the kernel restarted on it.
    m_feed.publish(QStringLiteral("MetaCubeX/mihomo"), QStringLiteral("v1.19.31"), false,
                   {{QStringLiteral("mihomo-") + GitHubReleaseService::architectureTag() +
                         QStringLiteral("-v1.19.31.gz"),
                     gzip(kernel)}});
    EXPECT_EQ(
        tarnwick({QStringLiteral("kernel"), QStringLiteral("check"), QStringLiteral("--json")}).object(),
        QJsonDocument::fromJson(R"({"current":"v1.19.30","latest":"v1.19.31","channel":"stable",
                                          "hasUpdate":"true"})")
            .object());
    const CliRun upgraded = tarnwick({QStringLiteral("kernel"), QStringLiteral("upgrade")});
    EXPECT_EQ(upgraded.status, 0) << upgraded.err.toStdString();
    EXPECT_EQ(upgraded.out, QStringLiteral("Kernel v1.19.31 (stable channel) installed and active\n"));

    // The application's own feed has nothing newer.
    const CliRun app = tarnwick({QStringLiteral("app"), QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(keys(app.object()), (QStringList{"build", "download", "hasUpdate", "version"}))
        << app.err.toStdString();
    EXPECT_EQ(app.object().value("hasUpdate"), QStringLiteral("false"));

    m_app.terminate();
    ASSERT_TRUE(m_app.waitForFinished(15000));
    EXPECT_FALSE(QFile::exists(socket));
    const CliRun gone = tarnwick({QStringLiteral("status")});
    EXPECT_EQ(gone.status, 3);
    EXPECT_TRUE(gone.err.startsWith(QStringLiteral("Tarnwick is not running"))) << gone.err.toStdString();
}

// A profile of one's own, its rules edited through the tool (the running kernel taking every edit), and
// the settings and profiles commands.
TEST_F(CliAppTest, EditsProfilesRulesAndSettingsOfTheRunningApplication)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(geodata);
    ASSERT_TRUE(startApp(kernel, geodata)) << m_log.toStdString();
    const QByteArray profile = "mixed-port: 1\nproxies: []\nrules:\n  # mine\n  - DOMAIN,a.example,DIRECT\n"
                               "  - MATCH,DIRECT\n";
    test::writeFile(m_dir.filePath(QStringLiteral("mine.yaml")), profile);
    const CliRun imported = tarnwick(
        {QStringLiteral("profiles"), QStringLiteral("import"), m_dir.filePath(QStringLiteral("mine.yaml"))});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.startsWith(QStringLiteral("Imported mine (mine.yaml)")))
        << imported.out.toStdString();
    EXPECT_TRUE(
        imported.out.contains(QStringLiteral("note: mine.yaml sets mixed-port, but the setting mixedPort")));
    ASSERT_EQ(tarnwick({QStringLiteral("switch"), QStringLiteral("mine")}).status, 0);

    const QString file = m_dir.filePath(QStringLiteral("workspace/profiles/mine.yaml"));
    const struct
    {
        QStringList arguments;
        int status;
        QString err;
        QByteArray after;
    } edits[] = {
        {{"rules", "add", "DOMAIN-SUFFIX,b.example,REJECT", "--at", "0"},
         0,
         "",
         "mixed-port: 1\nproxies: []\nrules:\n  # mine\n  - DOMAIN-SUFFIX,b.example,REJECT\n"
         "  - DOMAIN,a.example,DIRECT\n  - MATCH,DIRECT\n"},
        {{"rules", "toggle", "1"},
         0,
         "",
         "mixed-port: 1\nproxies: []\nrules:\n  # mine\n  - DOMAIN-SUFFIX,b.example,REJECT\n"
         "  # - DOMAIN,a.example,DIRECT\n  - MATCH,DIRECT\n"},
        {{"rules", "add", "DOMAIN,c.example,DIRECT\nmode: global"},
         1,
         "Invalid rule: a rule is one line\n",
         {}},
        {{"rules", "delete", "3"}, 1, "Rule index 3 is out of bounds (total: 3)\n", {}},
        {{"rules", "delete", "one"}, 2, "tarnwick: \"one\" is not a rule number\n", {}},
    };
    for (const auto& edit : edits) {
        SCOPED_TRACE(edit.arguments.join(u' ').toStdString());
        const QByteArray before = test::readFile(file).toUtf8();
        const CliRun run = tarnwick(edit.arguments);
        EXPECT_EQ(run.status, edit.status);
        EXPECT_TRUE(run.err.startsWith(edit.err)) << run.err.toStdString();
        EXPECT_EQ(test::readFile(file).toUtf8(), edit.after.isNull() ? before : edit.after);
    }
    // The running kernel took the edits: the new rule first (after the compiler's own), the disabled one
    // gone.
    const CliRun rules = tarnwick({QStringLiteral("rules"), QStringLiteral("--json")});
    ASSERT_EQ(rules.list().size(), 3);
    EXPECT_EQ(
        rules.list()[1].toObject(),
        QJsonDocument::fromJson(R"({"index":1,"enabled":false,"rule":"DOMAIN,a.example,DIRECT"})").object());
    const QByteArray secret = Settings(m_dir.filePath(QStringLiteral("settings.ini")))
                                  .text(QStringLiteral("apiSecret"), {})
                                  .toUtf8();
    const qint64 apiPort =
        Settings(m_dir.filePath(QStringLiteral("settings.ini"))).integer(QStringLiteral("apiPort"), 0);
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-H"), QStringLiteral("Authorization: Bearer ") + secret,
                QStringLiteral("http://127.0.0.1:%1/rules").arg(apiPort)});
    ASSERT_TRUE(curl.waitForFinished(10000));
    const QJsonArray kernelRules =
        QJsonDocument::fromJson(curl.readAllStandardOutput()).object().value("rules").toArray();
    QStringList payloads;
    for (const QJsonValue& rule : kernelRules)
        payloads.append(rule.toObject().value("payload").toString());
    EXPECT_TRUE(payloads.contains(QStringLiteral("b.example")));
    EXPECT_FALSE(payloads.contains(QStringLiteral("a.example")));

    const CliRun setting =
        tarnwick({QStringLiteral("settings"), QStringLiteral("logLevel"), QStringLiteral("debug")});
    EXPECT_EQ(setting.out, QStringLiteral("logLevel = debug (the running kernel reloads it at once)\n"));
    EXPECT_EQ(
        tarnwick({QStringLiteral("settings"), QStringLiteral("logLevel"), QStringLiteral("--json")}).list(),
        QJsonDocument::fromJson(R"([{"key":"logLevel","value":"debug","default":"silent","changed":true,
                                           "effect":"reload"}])")
            .array());
    EXPECT_EQ(tarnwick({QStringLiteral("settings"), QStringLiteral("noSuchKey"), QStringLiteral("1")}).err,
              QStringLiteral("Unknown setting: noSuchKey (tarnwick settings lists them)\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("settings"), QStringLiteral("allowLan"), QStringLiteral("maybe")}).err,
              QStringLiteral("allowLan is true or false, not \"maybe\"\n"));

    EXPECT_EQ(tarnwick({QStringLiteral("profiles"), QStringLiteral("rename"), QStringLiteral("mine"),
                        QStringLiteral("yours")})
                  .out,
              QStringLiteral("Renamed to yours (yours.yaml)\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("status"), QStringLiteral("--json")}).object().value("profile"),
              QStringLiteral("yours"));
    EXPECT_EQ(tarnwick({QStringLiteral("profiles"), QStringLiteral("delete"), QStringLiteral("yours")}).err,
              QStringLiteral("Profile yours is the active one; switch to another before deleting it\n"));
    EXPECT_EQ(
        tarnwick({QStringLiteral("profiles"), QStringLiteral("delete"), QStringLiteral("Default")}).status,
        0);
    EXPECT_EQ(tarnwick({QStringLiteral("profiles"), QStringLiteral("--json")}).object().value("profiles"),
              QStringLiteral("yours"));
    EXPECT_EQ(tarnwick({QStringLiteral("profiles"), QStringLiteral("update"), QStringLiteral("nobody")}).err,
              QStringLiteral("Profile not found: nobody\n"));
}

TEST_F(CliAppTest, RefusesBadCommandLinesBeforeReachingTheApplication)
{
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_dir.path());
    m_environment.remove(QStringLiteral("TARNWICK_APP_SOCKET"));
    const struct
    {
        QStringList arguments;
        int status;
        const char* err;
    } cases[] = {
        {{"frobnicate"}, 2, "tarnwick: unknown command \"frobnicate\"\n"},
        {{"status", "--colour"},
         2,
         "tarnwick: unknown option \"--colour\"\nusage: tarnwick status [--json]\n"},
        {{"mode", "fast"},
         2,
         "tarnwick: unknown mode \"fast\"\nusage: tarnwick mode [rule|global|direct] [--json]\n"},
        {{"kernel", "upgrade", "--channel"}, 2, "tarnwick: option --channel needs a value\n"},
        {{"switch"}, 2, "tarnwick: give the name (or file name) of one profile\n"},
        {{"status"}, 3, "Tarnwick is not running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const CliRun run = tarnwick(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.err.startsWith(QString::fromUtf8(c.err))) << run.err.toStdString();
    }
    // A directory where the socket belongs is no application either.
    QDir().mkpath(m_dir.filePath(QStringLiteral(".config/tarnwick/app.sock")));
    EXPECT_EQ(tarnwick({QStringLiteral("status")}).status, 3);
    const CliRun help = tarnwick({QStringLiteral("kernel"), QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("usage: tarnwick kernel check|upgrade")))
        << help.out.toStdString();
}
