#include "platform/HelperRegistration.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
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

} // namespace

// The application's main job as `make run` does it: a fresh workspace with only a kernel installed, the
// real helper started by the application, the seeded profile compiled, validated and run, traffic through
// the kernel's mixed port, and a clean stop on SIGTERM.
TEST(HeadlessAppTest, FreshInstallationRunsTheKernelAndStopsCleanly)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(geodata);
    QTemporaryDir dir;
    const QString workspace = dir.filePath(QStringLiteral("workspace"));
    ASSERT_TRUE(test::installKernel(workspace));

    test::TestHttpServer origin([](const test::HttpRequest& request) {
        return test::HttpResponse{200, {}, "origin saw " + request.path, false};
    });
    const QString settingsPath = dir.filePath(QStringLiteral("settings.ini"));
    const quint16 apiPort = test::freePort();
    const quint16 mixedPort = test::freePort();
    {
        Settings settings(settingsPath);
        for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
            settings.setText(QString::fromLatin1(key), origin.url(QStringLiteral("/no-geodata-here")));
        // Release checks go to the local server too.
        settings.setText(QStringLiteral("releases.apiBaseURL"), origin.url());
        settings.setInteger(QStringLiteral("apiPort"), apiPort);
        settings.setInteger(QStringLiteral("mixedPort"), mixedPort);
    }
    const QString socketPath = dir.filePath(QStringLiteral("run/helper.sock"));

    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNWICK_SETTINGS"), settingsPath);
    environment.insert(QStringLiteral("TARNWICK_WORKSPACE"), workspace);
    environment.insert(QStringLiteral("TARNWICK_HELPER_SOCKET"), socketPath);
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(test::binaryDir() + QStringLiteral("/bin/tarnwick-app"), {QStringLiteral("--headless")});
    ASSERT_TRUE(app.waitForStarted(5000));
    QByteArray log;
    const bool ready = test::waitFor(
        [&] {
            log += app.readAll();
            return log.contains("Global API override applied successfully.");
        },
        30s);
    ASSERT_TRUE(ready) << log.toStdString();
    EXPECT_TRUE(log.contains("Boot complete: kernel running")) << log.toStdString();

    const QByteArray secret = Settings(settingsPath).text(QStringLiteral("apiSecret"), {}).toUtf8();
    EXPECT_EQ(secret.size(), 32);
    EXPECT_TRUE(
        get(QUrl(QStringLiteral("http://127.0.0.1:%1/version").arg(apiPort)), secret).contains("v1.19.30"));
    // The controller answers a moment before the kernel routes traffic.
    EXPECT_TRUE(test::waitFor(
        [&] {
            return get(QUrl(origin.url(QStringLiteral("/hello"))), {},
                       QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), mixedPort)) ==
                   QByteArray("origin saw /hello");
        },
        10s));

    const QRegularExpressionMatch started =
        QRegularExpression(QStringLiteral("Kernel started \\(PID: (\\d+)\\)")).match(QString::fromUtf8(log));
    ASSERT_TRUE(started.hasMatch());
    const pid_t kernelPid = started.captured(1).toInt();
    EXPECT_EQ(::kill(kernelPid, 0), 0);

    app.terminate();
    ASSERT_TRUE(app.waitForFinished(15000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(::kill(kernelPid, 0), -1);
    // The kernel was not stopped by the user, so the next launch starts it again.
    EXPECT_EQ(Settings(settingsPath).boolean(QStringLiteral("isKernelIntentionallyStopped")), false);
    EXPECT_EQ(Settings(settingsPath).text(QStringLiteral("activeProfileName")), QStringLiteral("Default"));

    HelperRegistration::Options options;
    options.socketPath = socketPath;
    options.systemctl = QStringLiteral("/bin/false");
    test::await(HelperRegistration(options).unregisterService());
}

// A workspace named on the command line keeps settings of its own: running it, with no kernel and no
// profile of the default workspace, leaves the default workspace's choices as they were.
TEST(HeadlessAppTest, WorkspaceOfItsOwnLeavesTheDefaultSettingsAlone)
{
    QTemporaryDir dir;
    const QString defaultSettings = dir.filePath(QStringLiteral("config/tarnwick/settings.ini"));
    {
        Settings settings(defaultSettings);
        settings.setBoolean(QStringLiteral("hasCompletedOnboarding"), true);
        settings.setText(QStringLiteral("activeProfileName"), QStringLiteral("Mine"));
    }
    const QString workspace = dir.filePath(QStringLiteral("other"));
    test::TestHttpServer nothing([](const test::HttpRequest&) {
        return test::HttpResponse{404, {}, "no geodata here", false};
    });
    {
        Settings settings(workspace + QStringLiteral("/settings.ini"));
        for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
            settings.setText(QString::fromLatin1(key), nothing.url(QStringLiteral("/")));
        settings.setText(QStringLiteral("releases.apiBaseURL"), nothing.url());
    }
    const QString socketPath = dir.filePath(QStringLiteral("run/helper.sock"));

    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TARNWICK_SETTINGS"));
    environment.remove(QStringLiteral("TARNWICK_WORKSPACE"));
    environment.insert(QStringLiteral("HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("TARNWICK_HELPER_SOCKET"), socketPath);
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(test::binaryDir() + QStringLiteral("/bin/tarnwick-app"),
              {QStringLiteral("--headless"), QStringLiteral("--workspace"), workspace});
    ASSERT_TRUE(app.waitForStarted(5000));
    QByteArray log;
    ASSERT_TRUE(test::waitFor(
        [&] {
            log += app.readAll();
            return log.contains("Boot complete");
        },
        30s))
        << log.toStdString();
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(15000));

    EXPECT_EQ(Settings(defaultSettings).text(QStringLiteral("activeProfileName")), QStringLiteral("Mine"));
    EXPECT_EQ(Settings(workspace + QStringLiteral("/settings.ini")).text(QStringLiteral("activeProfileName")),
              QStringLiteral("Default"));
    EXPECT_FALSE(log.contains("no longer exists")) << log.toStdString();

    HelperRegistration::Options options;
    options.socketPath = socketPath;
    options.systemctl = QStringLiteral("/bin/false");
    test::await(HelperRegistration(options).unregisterService());
}

// One application per workspace: a second one says which is running and leaves; once that one is killed,
// its lock does not keep the next one out.
TEST(HeadlessAppTest, ASecondApplicationOnTheSameWorkspaceStepsAside)
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNWICK_SETTINGS"), dir.filePath(QStringLiteral("settings.ini")));
    environment.insert(QStringLiteral("TARNWICK_WORKSPACE"), dir.filePath(QStringLiteral("workspace")));
    const QString socketPath = dir.filePath(QStringLiteral("run/helper.sock"));
    environment.insert(QStringLiteral("TARNWICK_HELPER_SOCKET"), socketPath);
    const auto launch = [&](QProcess& app) {
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(test::binaryDir() + QStringLiteral("/bin/tarnwick-app"), {QStringLiteral("--headless")});
        QByteArray log;
        EXPECT_TRUE(test::waitFor([&] {
            log += app.readAll();
            return log.contains("starting (PID") || app.state() == QProcess::NotRunning;
        })) << log.toStdString();
        return log + app.readAll();
    };

    QProcess first;
    ASSERT_TRUE(launch(first).contains("starting (PID"));
    QProcess second;
    QByteArray secondLog = launch(second);
    second.waitForFinished(10000);
    ASSERT_EQ(second.state(), QProcess::NotRunning);
    secondLog += second.readAll();
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(secondLog.contains(
        QStringLiteral("Tarnwick is already running (PID %1)\n").arg(first.processId()).toUtf8()))
        << secondLog.toStdString();
    EXPECT_FALSE(secondLog.contains("starting (PID"));

    first.kill();
    first.waitForFinished(10000);
    ASSERT_EQ(first.state(), QProcess::NotRunning);
    QProcess third;
    EXPECT_TRUE(launch(third).contains("starting (PID"));
    third.terminate();
    EXPECT_TRUE(third.waitForFinished(15000));

    HelperRegistration::Options options;
    options.socketPath = socketPath;
    options.systemctl = QStringLiteral("/bin/false");
    test::await(HelperRegistration(options).unregisterService());
}
