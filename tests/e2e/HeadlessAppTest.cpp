#include "../history/FlowFixtures.h"
#include "platform/Settings.h"
#include "support/AppTestSetup.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <csignal>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

QByteArray get(const QUrl& url, const QByteArray& secret = {},
               const QNetworkProxy& proxy = QNetworkProxy::NoProxy)
{
    QNetworkAccessManager network;
    network.setProxy(proxy);
    QNetworkRequest request(url);
    if (!secret.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + secret);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    test::waitFor([&] { return reply->isFinished(); });
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

// `tarnwick-app --headless` (or with windows, when `headless` is false) with its own helper socket; the
// helper it registered is unregistered at the end.
class HeadlessApp final
{
public:
    HeadlessApp(const QString& socketPath, QProcessEnvironment environment, QStringList arguments,
                bool headless = true)
        : m_socketPath(socketPath)
    {
        environment.insert("TARNWICK_HELPER_SOCKET", socketPath);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(test::binaryDir() + "/bin/tarnwick-app",
                        (headless ? QStringList{"--headless"} : QStringList()) + arguments);
    }
    ~HeadlessApp() { test::unregisterHelper(m_socketPath); }

    // Waits until the log holds the text; false past 30 s.
    bool logged(const QByteArray& text)
    {
        const auto read = [&] {
            m_log += m_process.readAll();
            return m_log.contains(text);
        };
        return m_process.waitForStarted(5000) && test::waitFor(read, 30s);
    }

    QString m_socketPath;
    QProcess m_process;
    QByteArray m_log;
};

} // namespace

// The application's main job as `make run` does it: a fresh workspace with only a kernel installed, the
// real helper started by the application, the seeded profile compiled, validated and run, traffic through
// the kernel's mixed port, and a clean stop on SIGTERM. What the history keeps of that traffic: each
// request becomes one flow with its host, rule, chain and profile as soon as the kernel lists it; once the
// request has ended its flow is closed out with the counts last seen, the resolver places the destination,
// and the offline history command counts the flows.
TEST(HeadlessAppTest, FreshInstallationRunsTheKernelRecordsItsTrafficAndStopsCleanly)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(geodata);
    QTemporaryDir dir;
    const QString workspace = dir.filePath("workspace");
    ASSERT_TRUE(test::installKernel(workspace));
    test::TestHttpServer probe([](const test::HttpRequest& request) {
        return test::HttpResponse{200, {}, "origin saw " + request.path, false};
    });
    // The origin answers once the test has seen the flows open.
    QSemaphore answer;
    const QByteArray large(300000, 'x');
    test::TestHttpServer origin([&](const test::HttpRequest& request) {
        answer.tryAcquire(1, 30000);
        return test::HttpResponse{200, {}, request.path == "/large" ? large : QByteArray("small"), false};
    });
    const QString settingsPath = dir.filePath("settings.ini");
    Settings settings(settingsPath);
    test::prepareAppSettings(settings, probe.url());
    const qint64 mixedPort = settings.integer("mixedPort", 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARNWICK_SETTINGS", settingsPath);
    environment.insert("TARNWICK_WORKSPACE", workspace);
    HeadlessApp app(dir.filePath("run/helper.sock"), environment, {});
    ASSERT_TRUE(app.logged("Global API override applied successfully.")) << app.m_log.toStdString();
    const QByteArray& log = app.m_log;
    EXPECT_TRUE(log.contains("Boot complete: kernel running")) << log.toStdString();

    const QByteArray secret = Settings(settingsPath).text("apiSecret", {}).toUtf8();
    EXPECT_EQ(secret.size(), 32);
    EXPECT_TRUE(
        get(QUrl(QStringLiteral("http://127.0.0.1:%1/version").arg(settings.integer("apiPort", 0))), secret)
            .contains("v1.19.30"));
    // The controller answers a moment before the kernel routes traffic.
    const QNetworkProxy proxy(QNetworkProxy::HttpProxy, "127.0.0.1", quint16(mixedPort));
    ASSERT_TRUE(
        test::waitFor([&] { return get(QUrl(probe.url("/hello")), {}, proxy) == "origin saw /hello"; }, 10s));

    const QRegularExpressionMatch started =
        QRegularExpression("Kernel started \\(PID: (\\d+)\\)").match(QString::fromUtf8(log));
    ASSERT_TRUE(started.hasMatch());
    const pid_t kernelPid = started.captured(1).toInt();
    EXPECT_EQ(::kill(kernelPid, 0), 0);

    // One connection per request: each has a manager of its own, and closes with it.
    const QString database = workspace + "/Database/flows.db";
    const QString ofOrigin = QStringLiteral(" FROM flows WHERE target_port = %1").arg(origin.port());
    std::unique_ptr<QNetworkAccessManager> networks[2];
    std::unique_ptr<QNetworkReply> replies[2];
    const QString urls[2] = {origin.url("/large"),
                             QStringLiteral("http://localhost:%1/small").arg(origin.port())};
    for (int i = 0; i < 2; ++i) {
        networks[i] = std::make_unique<QNetworkAccessManager>();
        networks[i]->setProxy(proxy);
        replies[i].reset(networks[i]->get(QNetworkRequest(QUrl(urls[i]))));
    }
    EXPECT_TRUE(test::waitFor(
        [&] {
            return test::column(database, "SELECT COUNT(*)" + ofOrigin +
                                              " AND ts_end IS NULL AND rx_bytes = 0") == QVariantList{2};
        },
        15s));
    answer.release(2);
    ASSERT_TRUE(test::waitFor([&] { return replies[0]->isFinished() && replies[1]->isFinished(); }));
    EXPECT_EQ(replies[0]->readAll(), large);
    for (int i = 0; i < 2; ++i) {
        replies[i].reset();
        networks[i].reset();
    }

    const QString closed =
        "SELECT target_host || ' ' || rule || ' ' || rule_payload || ' ' || outbound_node || ' ' || "
        "chains || ' ' || profile_name || ' ' || close_reason || ' ' || (tx_bytes > 0)" +
        ofOrigin + " AND ts_end >= ts_start ORDER BY target_host";
    const QStringList expected{
        "127.0.0.1 IPCIDR 127.0.0.0/8 DIRECT [\"DIRECT\"] Default vanished 1",
        "localhost IPCIDR 127.0.0.0/8 DIRECT [\"DIRECT\"] Default vanished 1",
    };
    QStringList flows;
    EXPECT_TRUE(test::waitFor(
        [&] {
            flows = QVariant(test::column(database, closed)).toStringList();
            return flows.size() == expected.size();
        },
        15s));
    EXPECT_EQ(flows, expected);
    EXPECT_TRUE(test::waitFor(
        [&] {
            return test::column(database, "SELECT country FROM geoip_cache WHERE ip = '127.0.0.1'") ==
                   QVariantList{"Local"};
        },
        30s));

    QProcess history;
    history.start(test::binaryDir() + "/bin/tarnwick", {"history", "--workspace", workspace, "--json"});
    ASSERT_TRUE(history.waitForFinished(15000));
    const QJsonObject figures = QJsonDocument::fromJson(history.readAllStandardOutput()).object();
    EXPECT_EQ(figures.value("totalConnections").toInt(),
              test::column(database, "SELECT COUNT(*) FROM flows").value(0).toInt());

    app.m_process.terminate();
    ASSERT_TRUE(app.m_process.waitForFinished(15000));
    EXPECT_EQ(app.m_process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.m_process.exitCode(), 0);
    EXPECT_EQ(::kill(kernelPid, 0), -1);
    // The kernel was not stopped by the user, so the next launch starts it again.
    EXPECT_EQ(Settings(settingsPath).boolean("isKernelIntentionallyStopped"), false);
    EXPECT_EQ(Settings(settingsPath).text("activeProfileName"), "Default");
}

// A workspace named on the command line keeps settings of its own: running it, with no kernel and no
// profile of the default workspace, leaves the default workspace's choices as they were.
TEST(HeadlessAppTest, WorkspaceOfItsOwnLeavesTheDefaultSettingsAlone)
{
    QTemporaryDir dir;
    const QString defaultSettings = dir.filePath("config/tarnwick/settings.ini");
    {
        Settings settings(defaultSettings);
        settings.setBoolean("hasCompletedOnboarding", true);
        settings.setText("activeProfileName", "Mine");
    }
    const QString workspace = dir.filePath("other");
    test::TestHttpServer nothing([](const test::HttpRequest&) {
        return test::HttpResponse{404, {}, "no geodata here", false};
    });
    Settings settings(workspace + "/settings.ini");
    test::prepareAppSettings(settings, nothing.url());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("TARNWICK_SETTINGS");
    environment.remove("TARNWICK_WORKSPACE");
    environment.insert("HOME", dir.path());
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    environment.insert("XDG_DATA_HOME", dir.filePath("data"));
    HeadlessApp app(dir.filePath("run/helper.sock"), environment, {"--workspace", workspace});
    ASSERT_TRUE(app.logged("Boot complete")) << app.m_log.toStdString();
    app.m_process.terminate();
    ASSERT_TRUE(app.m_process.waitForFinished(15000));

    EXPECT_EQ(Settings(defaultSettings).text("activeProfileName"), "Mine");
    EXPECT_EQ(Settings(workspace + "/settings.ini").text("activeProfileName"), "Default");
    EXPECT_FALSE(app.m_log.contains("no longer exists")) << app.m_log.toStdString();
}

// One application per workspace: a second one says which is running and leaves, and on a desktop the
// running one brings its window forward; once that one is killed, its lock does not keep the next one out.
TEST(HeadlessAppTest, ASecondApplicationOnTheSameWorkspaceStepsAside)
{
    for (const bool headless : {true, false}) {
        SCOPED_TRACE(headless ? "headless" : "with windows");
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARNWICK_SETTINGS", dir.filePath("settings.ini"));
        environment.insert("TARNWICK_WORKSPACE", dir.filePath("workspace"));
        environment.insert("TARNWICK_APP_SOCKET", dir.filePath("app.sock"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const QString socketPath = dir.filePath("run/helper.sock");

        HeadlessApp first(socketPath, environment, {}, headless);
        ASSERT_TRUE(first.logged("starting (PID")) << first.m_log.toStdString();
        ASSERT_TRUE(test::waitFor([&] {
            QLocalSocket probe;
            probe.connectToServer(dir.filePath("app.sock"));
            return probe.waitForConnected(1000);
        }));
        HeadlessApp second(socketPath, environment, {}, headless);
        ASSERT_TRUE(second.m_process.waitForFinished(15000));
        const QByteArray secondLog = second.m_process.readAll();
        EXPECT_EQ(second.m_process.exitCode(), 1);
        EXPECT_EQ(QString::fromUtf8(secondLog),
                  QStringLiteral("Tarnwick is already running (PID %1)\n").arg(first.m_process.processId()));
        if (!headless) {
            EXPECT_TRUE(first.logged("Main window brought forward for another launch"))
                << first.m_log.toStdString();
        }

        first.m_process.kill();
        ASSERT_TRUE(first.m_process.waitForFinished(10000));
        HeadlessApp third(socketPath, environment, {}, headless);
        EXPECT_TRUE(third.logged("starting (PID")) << third.m_log.toStdString();
        third.m_process.terminate();
        EXPECT_TRUE(third.m_process.waitForFinished(15000));
    }
}
