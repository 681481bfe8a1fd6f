#include "app/SystemProxyController.h"

#include "app/CoreXPCLauncher.h"
#include "app/HelperClientError.h"
#include "app/WifiSuspension.h"
#include "controller/MihomoClient.h"
#include "platform/NetworkServices.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace tarnwick;

namespace {

// The helper's side of the command lines cannot be checked from here without the desktop behind it: the
// lines are recorded and the chosen ones fail.
class RecordingLauncher final : public CoreXPCLauncher
{
public:
    QCoro::Task<qint32> startKernel(QString, QStringList, QMap<QString, QString>, QString) override
    {
        co_return -1;
    }
    QCoro::Task<> stopKernel(qint32) override { co_return; }
    QCoro::Task<std::optional<QString>> waitForKernelExit(qint32, std::chrono::milliseconds) override
    {
        co_return std::nullopt;
    }
    QCoro::Task<> runSystemCommand(QString command, QStringList arguments) override
    {
        lines.append(QStringList{command} + arguments);
        if (failing(arguments))
            throw HelperClientError::helperError(QStringLiteral("XPC operation timed out."));
        co_return;
    }
    QList<QStringList> lines;
    std::function<bool(const QStringList&)> failing = [](const QStringList&) { return false; };
};

class FixedServices final : public NetworkServices
{
public:
    // A copy: QCoro moves from an lvalue given to co_return.
    QCoro::Task<QStringList> enabledServices() override { co_return QStringList(names); }
    QStringList names;
};

class SystemProxyControllerTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        m_services.names = {QStringLiteral("Wired connection 1"), QStringLiteral("Tailscale"),
                            QStringLiteral("Café \"Home\" Wi-Fi")};
        SystemProxyController::Context context;
        context.launcher = &m_launcher;
        context.settings = &m_settings;
        context.services = &m_services;
        context.client = [this]() -> const MihomoClient& { return m_client; };
        context.helperPrivileged = [] { return false; };
        m_controller = std::make_unique<SystemProxyController>(std::move(context));
        m_controller->kernelNotReady();
    }

    // The kernel's controller: its configuration, and every change it is sent.
    test::HttpResponse controller(const test::HttpRequest& request)
    {
        if (request.method == "GET" && request.path == "/configs")
            return {200, {}, QJsonDocument(m_configs).toJson(), false};
        return {204, {}, {}, false};
    }

    QStringList line(QStringList arguments) const
    {
        return QStringList{NetworkSetupCommand::executable} + arguments;
    }

    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath(QStringLiteral("settings.ini"))};
    RecordingLauncher m_launcher;
    FixedServices m_services;
    QJsonObject m_configs;
    test::TestHttpServer m_server{[this](const test::HttpRequest& request) { return controller(request); }};
    QNetworkAccessManager m_network;
    MihomoClient m_client{ControllerEndpoint{QStringLiteral("127.0.0.1"), m_server.port(), QString()},
                          &m_network};
    std::unique_ptr<SystemProxyController> m_controller;
};

TEST_F(SystemProxyControllerTest, PortAndBypassComeFromTheKernelAndTheSetting)
{
    struct Case
    {
        QJsonObject configs;
        int port;
    };
    const Case cases[] = {{{{"mixed-port", 7999}, {"port", 7891}}, 7999},
                          {{{"port", 7891}}, 7891},
                          {{{"mixed-port", 0}, {"port", 0}}, 7890},
                          {{{"mixed-port", "7999"}, {"port", 7001}}, 7001},
                          {{{"port", 70.5}}, 7890}};
    for (const Case& c : cases)
        EXPECT_EQ(SystemProxyController::proxyPort(c.configs), c.port)
            << QJsonDocument(c.configs).toJson().constData();
    EXPECT_EQ(
        SystemProxyController::bypassDomains(QStringLiteral(" localhost,, *.local ,\n,10.0.0.0/8 ")),
        (QStringList{QStringLiteral("localhost"), QStringLiteral("*.local"), QStringLiteral("10.0.0.0/8")}));
}

TEST_F(SystemProxyControllerTest, SwitchesEveryServiceButOtherToolsOnesAndKeepsTheChoice)
{
    m_configs = {{"port", 7891}};
    m_settings.setText(SystemProxyController::bypassKey, QStringLiteral("localhost, ,*.local,"));
    // Chosen before the kernel is ready: nothing is switched yet.
    test::await(m_controller->setSystemProxy(true));
    EXPECT_TRUE(m_launcher.lines.isEmpty());
    EXPECT_TRUE(m_settings.boolean(QStringLiteral("systemProxyEnabled"), false));

    // One command of the first service times out: that service ends there, the next one still follows.
    m_launcher.failing = [](const QStringList& arguments) {
        return arguments.value(0) == QLatin1String("-setsecurewebproxy") &&
               arguments.value(1) == QLatin1String("Wired connection 1");
    };
    QSignalSpy flushed(m_controller.get(), &SystemProxyController::cacheFlushed);
    test::await(m_controller->kernelReady());
    const QString cafe = QStringLiteral("Café \"Home\" Wi-Fi");
    using P = NetworkSetupCommand::Protocol;
    EXPECT_EQ(
        m_launcher.lines,
        (QList<QStringList>{line({QStringLiteral("-setwebproxy"), QStringLiteral("Wired connection 1"),
                                  QStringLiteral("127.0.0.1"), QStringLiteral("7891")}),
                            line({QStringLiteral("-setsecurewebproxy"), QStringLiteral("Wired connection 1"),
                                  QStringLiteral("127.0.0.1"), QStringLiteral("7891")}),
                            line(NetworkSetupCommand::setProxy(P::web, cafe, 7891)),
                            line(NetworkSetupCommand::setProxy(P::secureWeb, cafe, 7891)),
                            line({QStringLiteral("-setsocksfirewallproxy"), cafe, QStringLiteral("127.0.0.1"),
                                  QStringLiteral("7891")}),
                            line({QStringLiteral("-setproxybypassdomains"), cafe, QStringLiteral("localhost"),
                                  QStringLiteral("*.local")})}));
    EXPECT_TRUE(m_controller->systemProxyApplied());
    ASSERT_TRUE(test::waitFor([&] { return flushed.size() == 1; }));
    const QList<test::HttpRequest> requests = m_server.requests();
    EXPECT_EQ(requests.last().path, "/cache/dns/flush");

    // Every service failing leaves the choice as it was.
    m_launcher.lines.clear();
    m_launcher.failing = [](const QStringList&) { return true; };
    EXPECT_EQ(test::errorText<HelperClientError>(m_controller->setSystemProxy(false)),
              QStringLiteral("Helper error: All network services failed"));
    EXPECT_TRUE(m_controller->systemProxyEnabled());
    EXPECT_EQ(m_launcher.lines,
              (QList<QStringList>{line({QStringLiteral("-setwebproxystate"),
                                        QStringLiteral("Wired connection 1"), QStringLiteral("off")}),
                                  line({QStringLiteral("-setwebproxystate"), cafe, QStringLiteral("off")})}));

    // A kernel that stays down takes the system proxy with it; the choice stays.
    m_launcher.lines.clear();
    m_launcher.failing = [](const QStringList&) { return false; };
    test::await(m_controller->kernelDown());
    EXPECT_EQ(m_launcher.lines.size(), 6);
    EXPECT_FALSE(m_controller->systemProxyApplied());
    EXPECT_TRUE(m_controller->systemProxyEnabled());
}

TEST_F(SystemProxyControllerTest, TunNeedsTheKernelToBringItUp)
{
    m_services.names = {QStringLiteral("eth0")};
    test::await(m_controller->kernelReady());
    // A kernel without network privileges answers the change and leaves TUN off.
    m_configs = {{"tun", QJsonObject{{"enable", false}}}};
    EXPECT_EQ(test::errorText(m_controller->setTunMode(true)),
              QStringLiteral("TUN mode needs network privileges the helper does not have. Install its "
                             "privileged mode once with \"pkexec tarnwick-helper --install-privileged\" "
                             "(or sudo), then turn TUN mode on again."));
    EXPECT_FALSE(m_controller->tunEnabled());
    EXPECT_TRUE(m_launcher.lines.isEmpty());

    m_configs = {{"tun", QJsonObject{{"enable", true}}}};
    test::await(m_controller->setTunMode(true));
    EXPECT_TRUE(m_controller->tunEnabled());
    test::await(m_controller->shutdown());
    EXPECT_EQ(
        m_launcher.lines,
        (QList<QStringList>{
            line({QStringLiteral("-setdnsservers"), QStringLiteral("eth0"), QStringLiteral("223.6.6.6")}),
            line({QStringLiteral("-setdnsservers"), QStringLiteral("eth0"), QStringLiteral("Empty")})}));
    EXPECT_TRUE(m_settings.boolean(QStringLiteral("tunEnabled"), false));
}

TEST_F(SystemProxyControllerTest, TrustedWifiSuspendsTheSystemProxyButNotTheChoice)
{
    m_configs = {{"mixed-port", 7890}};
    m_services.names = {QStringLiteral("Wi-Fi")};
    m_settings.setText(WifiSuspension::trustedKey, QStringLiteral(" Office , Home,,"));
    EXPECT_EQ(WifiSuspension::trustedNames(m_settings.text(WifiSuspension::trustedKey, {})),
              (QStringList{QStringLiteral("Office"), QStringLiteral("Home")}));
    test::await(m_controller->setSystemProxy(true));
    test::await(m_controller->kernelReady());
    WifiSuspension suspension(m_settings, *m_controller);
    const auto join = [&](const QString& ssid) {
        m_launcher.lines.clear();
        test::await(suspension.networkChanged(ssid));
        return m_launcher.lines.size();
    };
    // The switch off: a trusted network changes nothing.
    EXPECT_EQ(join(QStringLiteral("Office")), 0);
    EXPECT_FALSE(suspension.isSuspendedBySSID());

    m_settings.setBoolean(WifiSuspension::enabledKey, true);
    EXPECT_EQ(join(QStringLiteral("office")), 0); // names match exactly
    EXPECT_EQ(join(QStringLiteral("Office")), 3); // the three protocols off
    EXPECT_EQ(m_launcher.lines.first().value(1), QStringLiteral("-setwebproxystate"));
    EXPECT_EQ(suspension.statusText(), QStringLiteral("Suspended (Wi-Fi: Office)"));
    EXPECT_FALSE(m_controller->systemProxyApplied());
    EXPECT_TRUE(m_settings.boolean(QStringLiteral("systemProxyEnabled"), false));

    // Another trusted network: only the name shown changes.
    EXPECT_EQ(join(QStringLiteral("Home")), 0);
    EXPECT_EQ(suspension.statusText(), QStringLiteral("Suspended (Wi-Fi: Home)"));

    // Off Wi-Fi: the suspension ends and the proxy is set again.
    EXPECT_EQ(join(QString()), 4);
    EXPECT_FALSE(suspension.isSuspendedBySSID());
    EXPECT_EQ(suspension.statusText(), QString());
    EXPECT_TRUE(m_controller->systemProxyApplied());
}

} // namespace
