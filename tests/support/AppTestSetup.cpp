#include "AppTestSetup.h"

#include "TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace tarnwick::test {

void prepareAppSettings(Settings& settings, const QString& unreachable)
{
    for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
        settings.setText(QString::fromLatin1(key), unreachable + QStringLiteral("/missing"));
    settings.setText(QStringLiteral("releases.apiBaseURL"), unreachable);
    settings.setInteger(QStringLiteral("apiPort"), freePort());
    settings.setInteger(QStringLiteral("mixedPort"), freePort());
}

HelperRegistration::Options helperOptions(const QString& directory)
{
    HelperRegistration::Options options;
    options.socketPath = directory + QStringLiteral("/run/helper.sock");
    options.helperExecutable = binaryDir() + QStringLiteral("/bin/tarnwick-helper");
    options.unitDirectory = directory + QStringLiteral("/units");
    options.systemctl = QStringLiteral("/bin/false");
    return options;
}

void unregisterHelper(const QString& socketPath)
{
    HelperRegistration::Options options;
    options.socketPath = socketPath;
    options.systemctl = QStringLiteral("/bin/false");
    await(HelperRegistration(options).unregisterService());
}

AppTest::AppTest(TestHttpServer::Handler answer) : m_server(std::move(answer)) {}

void AppTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_settings = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("settings.ini")));
    prepareAppSettings(*m_settings, m_server.url());
    m_helper = std::make_unique<HelperClient>(helperOptions(m_dir.path()), HelperClient::Timeouts{});
}

void AppTest::TearDown()
{
    if (m_state && m_state->supervisor().isRunning())
        await(m_state->stopKernel());
    m_state.reset();
    if (m_helper)
        await(m_helper->unregisterHelper());
}

void AppTest::completedOnboarding(const QString& activeProfile)
{
    m_settings->setBoolean(QStringLiteral("hasCompletedOnboarding"), true);
    m_settings->setText(QStringLiteral("activeProfileName"), activeProfile);
}

AppEnvironment AppTest::environment(AlertPresenter& alerts) const
{
    AppEnvironment environment;
    environment.settings = m_settings.get();
    environment.paths = ClashPaths(workspace());
    environment.helper = m_helper.get();
    environment.alertPresenter = &alerts;
    environment.defaultProfileResource = sourceDir() + QStringLiteral("/resources/Default.yaml");
    return environment;
}

AppState& AppTest::bootWithKernel(const QString& activeProfile)
{
    EXPECT_TRUE(installKernel(workspace()));
    completedOnboarding(activeProfile);
    AppState& state = makeState();
    await(state.boot(), std::chrono::seconds(60));
    return state;
}

QByteArray AppTest::controllerGet(const QString& path) const
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2")
                                     .arg(m_settings->integer(QStringLiteral("apiPort"), 0))
                                     .arg(path)));
    request.setRawHeader("Authorization",
                         "Bearer " + m_settings->text(QStringLiteral("apiSecret"), {}).toUtf8());
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    waitFor([&] { return reply->isFinished(); });
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

} // namespace tarnwick::test
