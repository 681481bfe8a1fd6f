// The `tarnwick` tool as a user runs it: the real executable against a real headless application that runs
// the real kernel, through every command of the control socket. The whole test runs in a network namespace
// of its own, so that the TUN switch and the desktop proxy never reach this machine's network; the desktop
// proxy is GNOME's keyfile backend inside the test's home.
#include "app/AppUpdateFlow.h"
#include "platform/Settings.h"
#include "support/AppTestSetup.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstring>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

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

QJsonObject findNamed(const QJsonArray& list, const QString& name)
{
    for (const QJsonValue& value : list) {
        if (value.toObject().value(QLatin1String("name")).toString() == name)
            return value.toObject();
    }
    return {};
}

// Why this process cannot have a network namespace of its own; empty once it has one with a loopback up.
QString enterNetworkNamespace()
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("needs root and ip to make a network namespace");
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("unshare(CLONE_NEWNET) failed: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    if (QProcess::execute(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"),
                                                 QStringLiteral("lo"), QStringLiteral("up")}) != 0)
        return QStringLiteral("ip link set lo up failed");
    return {};
}

class CliAppTest : public ::testing::Test
{
protected:
    // Before any server of the fixture exists, so that all of them listen inside the namespace.
    static void SetUpTestSuite() { s_noNamespace = enterNetworkNamespace(); }

    void SetUp() override
    {
        const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
        const QString problem = !s_noNamespace.isEmpty() ? s_noNamespace
                                : gsettings.isEmpty()    ? QStringLiteral("gsettings is not installed")
                                                         : QString();
        if (!problem.isEmpty()) {
            if (test::underCI())
                FAIL() << problem.toStdString();
            GTEST_SKIP() << problem.toStdString();
        }
        // Only gsettings and the kernel installer's gzip on the PATH: no NetworkManager or resolvectl is
        // ever reached.
        QDir().mkpath(m_dir.filePath(QStringLiteral("bin")));
        ASSERT_TRUE(QFile::link(gsettings, m_dir.filePath(QStringLiteral("bin/gsettings"))));
        for (const char* tool : {"gzip", "gunzip"})
            ASSERT_TRUE(QFile::link(QStandardPaths::findExecutable(QLatin1String(tool)),
                                    m_dir.filePath(QStringLiteral("bin/") + QLatin1String(tool))));
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("PATH"), m_dir.filePath(QStringLiteral("bin")));
        m_environment.insert(QStringLiteral("HOME"), m_dir.path());
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        m_environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
        m_environment.insert(QStringLiteral("TARNWICK_SETTINGS"), settingsPath());
        m_environment.insert(QStringLiteral("TARNWICK_WORKSPACE"), workspace());
        m_environment.insert(QStringLiteral("TARNWICK_HELPER_SOCKET"), helperSocket());
        m_environment.remove(QStringLiteral("TARNWICK_APP_SOCKET"));
    }

    void TearDown() override
    {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.terminate();
            m_app.waitForFinished(15000);
        }
        test::unregisterHelper(helperSocket());
    }

    QString workspace() const { return m_dir.filePath(QStringLiteral("workspace")); }
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    QString helperSocket() const { return m_dir.filePath(QStringLiteral("run/helper.sock")); }

    // A fresh workspace with a kernel installed and the release feed on this machine; the application
    // runs the seeded profile.
    bool startApp()
    {
        if (!test::installKernel(workspace()))
            return false;
        {
            Settings settings(settingsPath());
            for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
                settings.setText(QString::fromLatin1(key), m_feed.apiBase() + QStringLiteral("/no-geodata"));
            settings.setText(QStringLiteral("releases.apiBaseURL"), m_feed.apiBase());
            settings.setBoolean(AppUpdateFlow::autoCheckKey, false);
            settings.setInteger(QStringLiteral("apiPort"), m_apiPort);
            settings.setInteger(QStringLiteral("mixedPort"), m_mixedPort);
        }
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
        while (m_app.state() == QProcess::Running && m_app.waitForReadyRead(20))
            m_log += m_app.readAll();
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // The kernel's own answer, past the application.
    QJsonObject controller(const QString& path)
    {
        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy::NoProxy);
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_apiPort).arg(path)));
        request.setRawHeader("Authorization",
                             "Bearer " +
                                 Settings(settingsPath()).text(QStringLiteral("apiSecret"), {}).toUtf8());
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        test::waitFor([&] { return reply->isFinished(); });
        return QJsonDocument::fromJson(reply->readAll()).object();
    }

    QString gsettings(const char* schema, const char* key) const
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(m_dir.filePath(QStringLiteral("bin/gsettings")),
                      {QStringLiteral("get"), QString::fromLatin1(schema), QString::fromLatin1(key)});
        process.waitForFinished();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    static inline QString s_noNamespace;
    QTemporaryDir m_dir;
    test::ReleaseFeedServer m_feed;
    quint16 m_apiPort = test::freePort();
    quint16 m_mixedPort = test::freePort();
    QProcessEnvironment m_environment;
    QProcess m_app;
    QByteArray m_log;
};

} // namespace

TEST_F(CliAppTest, DrivesTheRunningApplicationThroughTheControlSocket)
{
    ASSERT_TRUE(startApp()) << m_log.toStdString();
    const QString socket = m_dir.filePath(QStringLiteral(".config/tarnwick/app.sock"));
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(socket).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    CliRun status = tarnwick({QStringLiteral("status"), QStringLiteral("--json")});
    ASSERT_EQ(status.status, 0) << status.err.toStdString();
    EXPECT_EQ(status.object(), QJsonDocument::fromJson(R"({"groups":"2","kernel":"running","mode":"rule",
        "profile":"Default","providers":"0","version":"v1.19.30"})")
                                   .object());
    status = tarnwick({QStringLiteral("status")});
    EXPECT_TRUE(status.out.contains(QRegularExpression(QStringLiteral("Kernel: +running \\(v1.19.30\\)\n"))))
        << status.out.toStdString();

    EXPECT_EQ(
        tarnwick({QStringLiteral("profiles"), QStringLiteral("--json")}).object(),
        QJsonDocument::fromJson(R"({"active":"Default","fileNames":"Default.yaml","profiles":"Default"})")
            .object());
    EXPECT_EQ(tarnwick({QStringLiteral("mode"), QStringLiteral("global")}).out, QStringLiteral("global\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("mode"), QStringLiteral("--json")}).object(),
              (QJsonObject{{"mode", "global"}}));
    tarnwick({QStringLiteral("mode"), QStringLiteral("rule")});

    const CliRun health = tarnwick({QStringLiteral("health"), QStringLiteral("--json")});
    ASSERT_EQ(health.status, 0) << health.err.toStdString();
    ASSERT_FALSE(health.list().isEmpty());
    EXPECT_EQ(health.list().first().toObject().keys(),
              (QStringList{"alive", "fastest", "fastestDelay", "group", "total"}));
    EXPECT_EQ(tarnwick({QStringLiteral("providers"), QStringLiteral("--json")}).list(), QJsonArray());

    const CliRun missing = tarnwick({QStringLiteral("switch"), QStringLiteral("Nowhere")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, QStringLiteral("Profile not found: Nowhere\n"));

    EXPECT_EQ(tarnwick({QStringLiteral("stop")}).status, 0);
    EXPECT_EQ(tarnwick({QStringLiteral("status"), QStringLiteral("--json")}).object().value("kernel"),
              QStringLiteral("stopped"));
    for (const char* command : {"health", "groups", "connections", "traffic"})
        EXPECT_EQ(tarnwick({QString::fromLatin1(command)}).err, QStringLiteral("Kernel is not running\n"))
            << command;
    EXPECT_EQ(tarnwick({QStringLiteral("start")}).status, 0);
    EXPECT_EQ(tarnwick({QStringLiteral("restart"), QStringLiteral("--json")}).object(), QJsonObject());

    // A newer stable kernel whose archive is no archive: the installer's own cause, and the kernel on
    // disk stays the running one.
    m_feed.publish(QStringLiteral("MetaCubeX/mihomo"), QStringLiteral("v1.19.31"), false,
                   {test::ReleaseFeedServer::kernelAsset("v1.19.31", "not a gzip archive")});
    const CliRun failed = tarnwick({QStringLiteral("kernel"), QStringLiteral("upgrade")});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, QStringLiteral("Kernel installation failed: File system operation failed: Gunzip "
                                         "failed with status 1\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("kernel"), QStringLiteral("check"), QStringLiteral("--json")})
                  .object()
                  .value("current")
                  .toString(),
              QStringLiteral("v1.19.30"));

    // The same release republished whole: found, installed, and the kernel restarted on it.
    m_feed.publish(QStringLiteral("MetaCubeX/mihomo"), QStringLiteral("v1.19.31"), false,
                   {test::ReleaseFeedServer::kernelAsset("v1.19.31", test::gzipped(test::kernelPath()))});
    EXPECT_EQ(
        tarnwick({QStringLiteral("kernel"), QStringLiteral("check"), QStringLiteral("--json")}).object(),
        QJsonDocument::fromJson(R"({"current":"v1.19.30","latest":"v1.19.31","channel":"stable",
                                    "hasUpdate":"true"})")
            .object());
    const CliRun upgraded = tarnwick({QStringLiteral("kernel"), QStringLiteral("upgrade")});
    EXPECT_EQ(upgraded.status, 0) << upgraded.err.toStdString() << m_log.toStdString();
    EXPECT_EQ(upgraded.out, QStringLiteral("Kernel v1.19.31 (stable channel) installed and active\n"));

    // The application's own feed has nothing newer.
    const CliRun app = tarnwick({QStringLiteral("app"), QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(app.object().keys(), (QStringList{"build", "download", "hasUpdate", "version"}))
        << app.err.toStdString();
    EXPECT_EQ(app.object().value("hasUpdate"), QStringLiteral("false"));

    m_app.terminate();
    ASSERT_TRUE(m_app.waitForFinished(15000));
    EXPECT_FALSE(QFile::exists(socket));
    const CliRun gone = tarnwick({QStringLiteral("status")});
    EXPECT_EQ(gone.status, 3);
    EXPECT_TRUE(gone.err.startsWith(QStringLiteral("Tarnwick is not running"))) << gone.err.toStdString();
}

// A profile of one's own with a group of real nodes: its selection, latency, connections, traffic, the
// system proxy and TUN, its rules and the settings, all through the tool.
TEST_F(CliAppTest, DrivesTheKernelsGroupsConnectionsAndProxyModes)
{
    test::TestHttpServer origin([](const test::HttpRequest&) {
        return test::HttpResponse{204, {}, {}, false};
    });
    // One node is the kernel's own mixed port, whose rules send 127.0.0.1 direct; the other refuses.
    const quint16 deadPort = test::freePort();
    const QByteArray profile = QStringLiteral(R"(mixed-port: 1
proxies:
  - {name: Loop, type: http, server: 127.0.0.1, port: %1}
  - {name: Dead, type: http, server: 127.0.0.1, port: %2}
proxy-groups:
  - {name: Pick, type: select, proxies: [DIRECT, Loop, Dead], url: "%3"}
rules:
  # mine
  - IP-CIDR,127.0.0.0/8,DIRECT,no-resolve
  - MATCH,Pick
)")
                                   .arg(m_mixedPort)
                                   .arg(deadPort)
                                   .arg(origin.url(QStringLiteral("/generate_204")))
                                   .toUtf8();
    test::writeFile(m_dir.filePath(QStringLiteral("mine.yaml")), profile);
    ASSERT_TRUE(startApp()) << m_log.toStdString();
    const CliRun imported = tarnwick(
        {QStringLiteral("profiles"), QStringLiteral("import"), m_dir.filePath(QStringLiteral("mine.yaml"))});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.startsWith(QStringLiteral("Imported mine (mine.yaml)")))
        << imported.out.toStdString();
    EXPECT_TRUE(
        imported.out.contains(QStringLiteral("note: mine.yaml sets mixed-port, but the setting mixedPort")));
    ASSERT_EQ(tarnwick({QStringLiteral("switch"), QStringLiteral("mine")}).status, 0);

    // Selection: the kernel's own group follows.
    const CliRun selected =
        tarnwick({QStringLiteral("select"), QStringLiteral("Pick"), QStringLiteral("Loop")});
    EXPECT_EQ(selected.out, QStringLiteral("Pick now uses Loop\n"))
        << selected.err.toStdString() << m_log.toStdString();
    EXPECT_EQ(controller(QStringLiteral("/proxies/Pick")).value("now").toString(), QStringLiteral("Loop"));
    const struct
    {
        QStringList arguments;
        int status;
        QString err;
    } refused[] = {
        {{"select", "Nope", "Loop"}, 1, "Group not found: Nope\n"},
        {{"select", "Pick", "Elsewhere"}, 1, "Elsewhere is not a member of Pick\n"},
        {{"test", "Nope"}, 1, "Group not found: Nope\n"},
        {{"close", "no-such-id"}, 1, "Connection not found: no-such-id\n"},
        {{"proxy", "maybe"}, 2, "tarnwick: say on or off\nusage: tarnwick proxy [on|off] [--json]\n"},
        {{"close", "a", "--all"},
         2,
         "tarnwick: give one connection's ID (tarnwick connections) or --all\nusage: tarnwick close ID|--all "
         "[--json]\n"},
    };
    for (const auto& c : refused) {
        const CliRun run = tarnwick(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(run.err, c.err);
    }

    // Latency: the live node has a delay, the dead one failed; the human table says so.
    const CliRun tested =
        tarnwick({QStringLiteral("test"), QStringLiteral("Pick"), QStringLiteral("--json")});
    ASSERT_EQ(tested.list().size(), 1) << tested.err.toStdString();
    const QJsonObject pick = tested.list().first().toObject();
    EXPECT_EQ(pick.value("now"), QStringLiteral("Loop"));
    EXPECT_GT(findNamed(pick.value("members").toArray(), "Loop").value("delay").toInteger(), 0);
    EXPECT_EQ(findNamed(pick.value("members").toArray(), "Dead").value("delay").toInteger(), 0);
    const QString groups = tarnwick({QStringLiteral("groups")}).out;
    EXPECT_TRUE(groups.contains(QStringLiteral("Pick (Selector): Loop\n"))) << groups.toStdString();
    EXPECT_TRUE(groups.contains(QRegularExpression(QStringLiteral("\n  \\*  Loop +Http +\\d+ ms\n"))))
        << groups.toStdString();
    EXPECT_TRUE(groups.contains(QRegularExpression(QStringLiteral("\n     Dead +Http +failed\n"))))
        << groups.toStdString();

    // A connection held open through the mixed port: listed, carrying traffic, and closed by the kernel.
    QTcpServer target;
    ASSERT_TRUE(target.listen(QHostAddress::LocalHost));
    QTcpSocket held;
    held.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), m_mixedPort));
    held.connectToHost(QStringLiteral("127.0.0.1"), target.serverPort());
    ASSERT_TRUE(test::waitFor([&] { return target.hasPendingConnections(); }, 10s));
    QTcpSocket* far = target.nextPendingConnection();
    far->write(QByteArray(200000, 'x'));
    QByteArray received;
    ASSERT_TRUE(test::waitFor(
        [&] {
            received += held.readAll();
            return received.size() == 200000;
        },
        10s));
    const CliRun connections = tarnwick({QStringLiteral("connections"), QStringLiteral("--json")});
    ASSERT_EQ(connections.list().size(), 1) << connections.out.toStdString() << connections.err.toStdString();
    const QJsonObject connection = connections.list().first().toObject();
    EXPECT_EQ(connection.value("destination"), QStringLiteral("127.0.0.1:%1").arg(target.serverPort()));
    EXPECT_EQ(connection.value("rule"), QStringLiteral("IPCIDR,127.0.0.0/8"));
    EXPECT_EQ(connection.value("chains"), QJsonArray{QStringLiteral("DIRECT")});
    EXPECT_EQ(connection.value("download").toInteger(), 200000);
    EXPECT_TRUE(tarnwick({QStringLiteral("connections")}).out.contains(connection.value("id").toString()));
    EXPECT_TRUE(test::waitFor(
        [&] {
            return tarnwick({QStringLiteral("traffic"), QStringLiteral("--json")})
                       .object()
                       .value("downloadTotal")
                       .toString()
                       .toLongLong() >= 200000;
        },
        10s));
    EXPECT_TRUE(tarnwick({QStringLiteral("traffic")})
                    .out.contains(QRegularExpression(
                        QStringLiteral("Download: +\\d+(\\.\\d)? [KMG]B/s +total \\d+(\\.\\d)? KB\n"))));
    EXPECT_EQ(tarnwick({QStringLiteral("close"), connection.value("id").toString()}).out,
              QStringLiteral("Closed 1 connection\n"));
    EXPECT_TRUE(test::waitFor([&] { return held.state() == QAbstractSocket::UnconnectedState; }, 10s));
    EXPECT_EQ(tarnwick({QStringLiteral("close"), QStringLiteral("--all"), QStringLiteral("--json")}).object(),
              (QJsonObject{{"closed", "0"}}));

    // The desktop proxy of this test's home points at the kernel, and back.
    const CliRun on = tarnwick({QStringLiteral("proxy"), QStringLiteral("on")});
    EXPECT_EQ(on.out, QStringLiteral("System proxy: on (pointing at the kernel)\nTUN mode:     off\n"))
        << on.err.toStdString();
    EXPECT_EQ(gsettings("org.gnome.system.proxy", "mode"), QStringLiteral("'manual'"));
    EXPECT_EQ(gsettings("org.gnome.system.proxy.http", "port"), QString::number(m_mixedPort));
    EXPECT_EQ(tarnwick({QStringLiteral("proxy"), QStringLiteral("off"), QStringLiteral("--json")}).object(),
              QJsonDocument::fromJson(R"({"systemProxy":"off","systemProxyApplied":"false","tun":"off"})")
                  .object());
    EXPECT_EQ(gsettings("org.gnome.system.proxy", "mode"), QStringLiteral("'none'"));

    // TUN needs the helper's privileged mode, which this user-mode helper does not have.
    const CliRun tun = tarnwick({QStringLiteral("tun"), QStringLiteral("on")});
    EXPECT_EQ(tun.status, 1);
    EXPECT_EQ(tun.err,
              QStringLiteral("TUN mode needs network privileges the helper does not have. Install its "
                             "privileged mode once with \"pkexec tarnwick-helper --install-privileged\" "
                             "(or sudo), then turn TUN mode on again.\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("tun")}).out,
              QStringLiteral("System proxy: off\nTUN mode:     off\n"));
    EXPECT_FALSE(controller(QStringLiteral("/configs")).value("tun").toObject().value("enable").toBool());

    // Rules: each edit changes only its line, and the running kernel takes it.
    const QString file = workspace() + QStringLiteral("/profiles/mine.yaml");
    EXPECT_EQ(
        tarnwick({QStringLiteral("rules"), QStringLiteral("add"), QStringLiteral("DOMAIN,b.example,REJECT"),
                  QStringLiteral("--at"), QStringLiteral("0")})
            .status,
        0);
    EXPECT_EQ(test::readFile(file).toUtf8(),
              QByteArray(profile).replace("  # mine\n", "  # mine\n  - DOMAIN,b.example,REJECT\n"));
    QStringList payloads;
    for (const QJsonValue& rule : controller(QStringLiteral("/rules")).value("rules").toArray())
        payloads.append(rule.toObject().value("payload").toString());
    EXPECT_TRUE(payloads.contains(QStringLiteral("b.example"))) << payloads.join(u' ').toStdString();
    const CliRun badRule = tarnwick({QStringLiteral("rules"), QStringLiteral("delete"), QStringLiteral("9")});
    EXPECT_EQ(badRule.err, QStringLiteral("Rule index 9 is out of bounds (total: 3)\n"));

    const CliRun setting =
        tarnwick({QStringLiteral("settings"), QStringLiteral("logLevel"), QStringLiteral("debug")});
    EXPECT_EQ(setting.out, QStringLiteral("logLevel = debug (the running kernel reloads it at once)\n"));
    EXPECT_EQ(tarnwick({QStringLiteral("profiles"), QStringLiteral("delete"), QStringLiteral("mine")}).err,
              QStringLiteral("Profile mine is the active one; switch to another before deleting it\n"));
}

TEST_F(CliAppTest, RefusesBadCommandLinesBeforeReachingTheApplication)
{
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
        {{"select", "Pick"}, 2, "tarnwick: give a group and one of its members\n"},
        {{"tun", "on", "off"}, 2, "tarnwick: say on or off\n"},
        {{"status"}, 3, "Tarnwick is not running"},
    };
    for (const auto& c : cases) {
        const CliRun run = tarnwick(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.err.startsWith(QString::fromUtf8(c.err))) << run.err.toStdString();
    }
    // A directory where the socket belongs is no application either.
    QDir().mkpath(m_dir.filePath(QStringLiteral(".config/tarnwick/app.sock")));
    EXPECT_EQ(tarnwick({QStringLiteral("status")}).status, 3);
    const CliRun help = tarnwick({QStringLiteral("close"), QStringLiteral("--help")});
    EXPECT_EQ(
        help.out,
        QStringLiteral("usage: tarnwick close ID|--all [--json]\n\nclose one connection, or every one\n"));
}
