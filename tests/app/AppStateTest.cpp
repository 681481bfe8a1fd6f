#include "app/AppState.h"

#include "config/EngineSettings.h"
#include "config/UserAgentHelper.h"
#include "support/AppTestSetup.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <csignal>
#include <functional>
#include <optional>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// Alerts cannot be shown here; record them and answer with a chosen button.
class RecordingAlertPresenter final : public AlertPresenter
{
public:
    int present(const Alert& alert) override
    {
        alerts.append(alert);
        return answer;
    }
    QList<Alert> alerts;
    int answer = 1;
};

class AppStateTest : public test::AppTest
{
public:
    AppState& makeState() override
    {
        AppEnvironment env = environment(m_alerts);
        env.openOnboarding = [this] { ++m_onboardingOpened; };
        env.openKernelDownload = [this] { ++m_kernelDownloadOpened; };
        env.openFile = [this](const QString& path) { m_openedFiles.append(path); };
        env.kernelRecovery = m_recovery;
        m_state = std::make_unique<AppState>(env);
        return *m_state;
    }

    // The network administration bits (CAP_NET_ADMIN, CAP_NET_RAW) of a process's bounding, permitted
    // and effective sets.
    static quint64 networkCapabilities(qint32 pid)
    {
        const QString status = test::readFile(QStringLiteral("/proc/%1/status").arg(pid));
        static const QRegularExpression line(QStringLiteral("^Cap(Bnd|Prm|Eff):\\s*([0-9a-f]+)$"),
                                             QRegularExpression::MultilineOption);
        quint64 bits = 0;
        int sets = 0;
        for (const QRegularExpressionMatch& match : line.globalMatch(status)) {
            bits |= match.captured(2).toULongLong(nullptr, 16) & ((1ull << 12) | (1ull << 13));
            ++sets;
        }
        return sets == 3 ? bits : ~0ull;
    }

    static ProfileNode profileNamed(const AppState& state, const QString& name)
    {
        for (const ProfileNode& node : state.profileNodes()) {
            if (node.name == name)
                return node;
        }
        ADD_FAILURE() << "no profile " << name.toStdString();
        return {};
    }

    RecordingAlertPresenter m_alerts;
    int m_onboardingOpened = 0;
    int m_kernelDownloadOpened = 0;
    QStringList m_openedFiles;
    KernelRecovery::Policy m_recovery{50ms, 1, 60s};
};

} // namespace

TEST_F(AppStateTest, ConstructionPreparesTheWorkspaceAndReadsTheSettings)
{
    m_settings->setBoolean(QStringLiteral("systemProxyEnabled"), true);
    AppState& state = makeState();

    EXPECT_EQ(test::readFile(workspace() + QStringLiteral("/profiles/Default.yaml")),
              test::readFile(test::sourceDir() + QStringLiteral("/resources/Default.yaml")));
    EXPECT_TRUE(state.systemProxyEnabled());
    EXPECT_FALSE(state.tunEnabled());
    EXPECT_EQ(state.bootState(), AppBootState::onboarding);
    EXPECT_GT(state.appMemoryBytes(), 0);

    // The old defaults of the user agent give way to the new one; an agent of the user's own stays.
    for (const auto& [stored, migrated] : {std::pair{"clash.meta", UserAgentHelper::defaultUA},
                                           {"clash-meta", UserAgentHelper::defaultUA},
                                           {"my-client/2.0", QStringLiteral("my-client/2.0")}}) {
        m_state.reset();
        m_settings->setText(QStringLiteral("globalUA"), QString::fromLatin1(stored));
        makeState();
        EXPECT_EQ(m_settings->text(QStringLiteral("globalUA")), migrated) << stored;
    }
}

TEST_F(AppStateTest, FirstLaunchOpensOnboardingAndStartsNothing)
{
    AppState& state = makeState();
    state.launch();
    ASSERT_TRUE(test::waitFor([&] { return m_onboardingOpened == 1; }, 3s));
    EXPECT_EQ(state.bootState(), AppBootState::onboarding);
    EXPECT_EQ(state.kernelStatus(), KernelStatus::stopped());

    test::await(state.completeOnboarding());
    EXPECT_EQ(m_settings->boolean(QStringLiteral("hasCompletedOnboarding")), true);
    EXPECT_EQ(state.bootState(), AppBootState::ready);
    // The seeded profile is listed; nothing was active, so the kernel stays down.
    ASSERT_EQ(state.profileNodes().size(), 1);
    EXPECT_EQ(state.profileNodes().first().name, QStringLiteral("Default"));
    EXPECT_EQ(state.kernelStatus(), KernelStatus::stopped());
}

// One boot and what it must end with; every row ends `ready`, with the kernel stopped.
struct BootCase
{
    const char* name;
    std::function<void(AppStateTest&)> arrange;
    std::optional<QString> activeProfileAfter;
    int kernelDownloads;
    QStringList alertTitles;
};

class AppStateBootTest : public AppStateTest, public ::testing::WithParamInterface<BootCase>
{};

TEST_P(AppStateBootTest, EndsReadyWithTheKernelStopped)
{
    const BootCase& row = GetParam();
    row.arrange(*this);
    AppState& state = makeState();
    test::await(state.boot());
    EXPECT_EQ(state.bootState(), AppBootState::ready);
    EXPECT_EQ(state.kernelStatus(), KernelStatus::stopped());
    EXPECT_FALSE(state.supervisor().isRunning());
    EXPECT_EQ(state.activeProfileName(), row.activeProfileAfter);
    EXPECT_EQ(m_settings->text(QStringLiteral("activeProfileName")), row.activeProfileAfter);
    EXPECT_EQ(m_kernelDownloadOpened, row.kernelDownloads);
    QStringList titles;
    for (const Alert& alert : m_alerts.alerts)
        titles.append(alert.title);
    EXPECT_EQ(titles, row.alertTitles);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, AppStateBootTest,
    ::testing::Values(
        BootCase{"DeletedActiveProfileIsCleared",
                 [](AppStateTest& t) { t.completedOnboarding(QStringLiteral("Deleted Profile")); },
                 std::nullopt,
                 0,
                 {}},
        // Not even a kernel is needed to show that none is started.
        BootCase{"IntentionallyStoppedKernelStaysStopped",
                 [](AppStateTest& t) {
                     t.completedOnboarding(QStringLiteral("Default"));
                     t.m_settings->setBoolean(QStringLiteral("isKernelIntentionallyStopped"), true);
                 },
                 QStringLiteral("Default"),
                 0,
                 {}},
        BootCase{"MissingKernelAsksForADownload",
                 [](AppStateTest& t) { t.completedOnboarding(QStringLiteral("Default")); },
                 QStringLiteral("Default"),
                 1,
                 {}},
        BootCase{"MissingHelperOffersToInstallItFirst",
                 [](AppStateTest& t) {
                     HelperRegistration::Options options = test::helperOptions(t.m_dir.path());
                     options.helperExecutable = t.m_dir.filePath(QStringLiteral("no-helper-here"));
                     t.m_helper = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});
                     t.completedOnboarding(QStringLiteral("Default"));
                     t.m_alerts.answer = 1; // "Later"
                 },
                 QStringLiteral("Default"),
                 0,
                 {QStringLiteral("Helper Not Installed")}},
        // The profile list cannot be read (a file where the workspace should be): the choice is kept.
        BootCase{"UnreadableWorkspaceKeepsTheActiveProfile",
                 [](AppStateTest& t) {
                     test::writeFile(t.workspace(), "in the way");
                     t.completedOnboarding(QStringLiteral("Default"));
                 },
                 QStringLiteral("Default"),
                 0,
                 {}}),
    [](const ::testing::TestParamInfo<BootCase>& info) { return std::string(info.param.name); });

TEST_F(AppStateTest, KernelRunsThroughTheHelperAndStops)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running)
        << m_alerts.alerts.value(0).text.toStdString();
    const qint32 pid = state.kernelStatus().pid;
    EXPECT_GT(pid, 0);
    EXPECT_EQ(state.supervisor().currentPID(), pid);
    // Whatever its configuration asks for, the kernel cannot touch the machine's network.
    EXPECT_EQ(networkCapabilities(pid), 0u);
    // A fresh secret was generated and saved.
    EXPECT_EQ(m_settings->text(QStringLiteral("apiSecret")).value_or(QString()).size(), 32);
    ASSERT_TRUE(test::waitFor([&] { return state.isKernelReady(); }, 15s));
    EXPECT_EQ(state.mihomoVersion(), QStringLiteral("v1.19.30"));
    EXPECT_TRUE(test::waitFor([&] { return state.proxyStore().groups().size() == 2; }));
    EXPECT_TRUE(controllerGet(QStringLiteral("/version")).contains("v1.19.30"));
    // The live settings were patched in: the mixed port is ours.
    EXPECT_TRUE(controllerGet(QStringLiteral("/configs"))
                    .contains("\"mixed-port\":" +
                              QByteArray::number(m_settings->integer(QStringLiteral("mixedPort"), 0))));

    // A second start while running does nothing.
    test::await(state.startKernel());
    EXPECT_EQ(state.kernelStatus(), KernelStatus::running(pid));

    test::await(state.restartKernel(), 60s);
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    EXPECT_NE(state.kernelStatus().pid, pid);
    EXPECT_EQ(::kill(pid, 0), -1); // the old kernel is gone

    // Stopped while its readiness sequence may still be asking for the version: nothing of it sticks.
    test::await(state.stopKernel());
    EXPECT_EQ(state.kernelStatus(), KernelStatus::stopped());
    EXPECT_TRUE(state.isKernelIntentionallyStopped());
    EXPECT_EQ(m_settings->boolean(QStringLiteral("isKernelIntentionallyStopped")), true);
    EXPECT_FALSE(state.mihomoVersion().has_value());
    EXPECT_TRUE(state.proxyStore().groups().isEmpty());
    EXPECT_TRUE(controllerGet(QStringLiteral("/version")).isEmpty());
}

TEST_F(AppStateTest, RejectedProfileShowsTheKernelsOwnWords)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    test::writeFile(workspace() + QStringLiteral("/profiles/Broken.yaml"),
                    "proxy-groups:\n  - name: Proxy\n    type: select\n    proxies: [Nowhere]\nrules:\n  - "
                    "MATCH,Proxy\n");
    m_alerts.answer = 0; // "Edit Config"
    AppState& state = bootWithKernel(QStringLiteral("Broken"));

    EXPECT_EQ(state.kernelStatus(), KernelStatus::stopped());
    ASSERT_EQ(m_alerts.alerts.size(), 1);
    const Alert& alert = m_alerts.alerts.first();
    EXPECT_EQ(alert.title, QStringLiteral("Configuration Error"));
    EXPECT_EQ(alert.buttons, (QStringList{QStringLiteral("Edit Config"), QStringLiteral("OK")}));
    // Of the kernel's three lines only the error's msg field survives the cleaning.
    EXPECT_EQ(alert.text, QStringLiteral("proxy group[0]: Proxy: 'Nowhere' not found"));
    // "Edit Config" opens the user's profile, not the configuration compiled from it.
    EXPECT_EQ(m_openedFiles, QStringList{workspace() + QStringLiteral("/profiles/Broken.yaml")});
}

// A profile the kernel rejects keeps the running kernel and its configuration; one it takes restarts the
// kernel on it; a shutdown then stops the kernel and keeps the modes for the next launch.
TEST_F(AppStateTest, SwitchingProfilesRestartsTheKernelOnlyOnOneItTakes)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    // The compiler puts its QUIC rule first; the kernel's index is turned back into the profile's own.
    test::writeFile(
        workspace() + QStringLiteral("/profiles/Broken.yaml"),
        "rules:\n  - DOMAIN,example.com,DIRECT\n  - DOMAIN,example.org,Nowhere\n  - MATCH,DIRECT\n");
    test::writeFile(workspace() + QStringLiteral("/profiles/Work.yaml"),
                    "proxy-groups:\n  - name: Office\n    type: select\n    proxies: [DIRECT, REJECT]\n"
                    "rules:\n  - MATCH,Office\n");
    m_settings->setBoolean(QStringLiteral("systemProxyEnabled"), true);
    m_alerts.answer = 1; // "OK"
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    const KernelStatus running = state.kernelStatus();
    const QString config = workspace() + QStringLiteral("/work/config.json");
    const QString compiled = test::readFile(config);

    test::await(state.switchProfile(profileNamed(state, QStringLiteral("Broken"))), 60s);
    ASSERT_EQ(m_alerts.alerts.size(), 1);
    EXPECT_EQ(m_alerts.alerts.first().title, QStringLiteral("Configuration Error"));
    EXPECT_EQ(m_alerts.alerts.first().text,
              QStringLiteral("rules[1] [DOMAIN,example.org,Nowhere] error: proxy [Nowhere] not found"));
    EXPECT_EQ(state.kernelStatus(), running);
    EXPECT_EQ(::kill(running.pid, 0), 0);
    EXPECT_EQ(state.activeProfileName(), QStringLiteral("Default"));
    // The kernel's configuration on disk is still the one it runs, so a reload or restart keeps working.
    EXPECT_EQ(test::readFile(config), compiled);
    EXPECT_FALSE(QFile::exists(workspace() + QStringLiteral("/work/config.candidate.json")));

    test::await(state.switchProfile(profileNamed(state, QStringLiteral("Work"))), 60s);
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    const qint32 pid = state.kernelStatus().pid;
    EXPECT_NE(pid, running.pid);
    EXPECT_EQ(state.activeProfileName(), QStringLiteral("Work"));
    EXPECT_EQ(m_settings->text(QStringLiteral("activeProfileName")), QStringLiteral("Work"));
    ASSERT_TRUE(
        test::waitFor([&] { return !controllerGet(QStringLiteral("/proxies/Office")).isEmpty(); }, 15s));

    test::await(state.shutdown(), 30s);
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(m_settings->boolean(QStringLiteral("systemProxyEnabled")), true);
    EXPECT_EQ(m_settings->boolean(QStringLiteral("isKernelIntentionallyStopped")), false);
}

TEST_F(AppStateTest, StopWhileTheStartValidatesWins)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    m_settings->setBoolean(QStringLiteral("isKernelIntentionallyStopped"), true);
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus(), KernelStatus::stopped());

    // The start suspends at its first wait (compiling, then the kernel's own test of the configuration).
    bool started = false;
    const auto start = [](AppState* s, bool* done) -> QCoro::Task<> {
        co_await s->startKernel();
        *done = true;
    };
    start(&state, &started);
    ASSERT_EQ(state.kernelStatus(), KernelStatus::starting());
    test::await(state.stopKernel());
    ASSERT_TRUE(test::waitFor([&] { return started; }, 30s));

    EXPECT_EQ(state.kernelStatus(), KernelStatus::stopped());
    EXPECT_FALSE(state.supervisor().isRunning());
    EXPECT_EQ(m_settings->boolean(QStringLiteral("isKernelIntentionallyStopped")), true);
    EXPECT_TRUE(controllerGet(QStringLiteral("/version")).isEmpty());
    EXPECT_TRUE(m_alerts.alerts.isEmpty()) << m_alerts.alerts.value(0).text.toStdString();
}

TEST_F(AppStateTest, KilledKernelIsNoticedRestartedAndThenGivenUpOn)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    AppState& state = bootWithKernel(); // one restart in a row, then an alert
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    const qint32 first = state.kernelStatus().pid;

    QElapsedTimer notice;
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    notice.start();
    ASSERT_TRUE(test::waitFor([&] { return state.kernelStatus().kind != KernelStatus::Kind::running; }, 2s));
    RecordProperty("death_notice_ms", static_cast<int>(notice.elapsed()));
    EXPECT_EQ(state.kernelStatus(),
              KernelStatus::error(QStringLiteral("The kernel stopped unexpectedly (killed by signal 9)")));

    ASSERT_TRUE(test::waitFor([&] { return state.kernelStatus().kind == KernelStatus::Kind::running; }, 30s));
    const qint32 second = state.kernelStatus().pid;
    EXPECT_NE(second, first);
    EXPECT_TRUE(test::waitFor([&] { return !controllerGet(QStringLiteral("/version")).isEmpty(); }, 15s));

    ASSERT_EQ(::kill(second, SIGKILL), 0);
    ASSERT_TRUE(test::waitFor([&] { return m_alerts.alerts.size() == 1; }, 5s));
    EXPECT_EQ(
        m_alerts.alerts.first(),
        (Alert{QStringLiteral("Kernel Crashed"),
               QStringLiteral("The kernel stopped unexpectedly 2 times in a row (the last time: killed by "
                              "signal 9) and is not restarted again. Its log is %1/logs/core.log.")
                   .arg(workspace()),
               Alert::Style::critical,
               {QStringLiteral("OK")}}));
    EXPECT_EQ(state.kernelStatus().kind, KernelStatus::Kind::error);
    EXPECT_FALSE(state.supervisor().isRunning());
}

TEST_F(AppStateTest, PortHeldByAnotherProgramIsReported)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    m_settings->setInteger(QStringLiteral("mixedPort"), holder.serverPort());
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    ASSERT_TRUE(test::waitFor([&] { return state.isKernelReady(); }, 15s));
    ASSERT_EQ(m_alerts.alerts.size(), 1);
    EXPECT_EQ(
        m_alerts.alerts.first(),
        (Alert{QStringLiteral("Operation Failed"),
               QStringLiteral("The kernel could not open port %1 (mixed-port); another program is probably "
                              "using it. Choose another port in the settings.")
                   .arg(holder.serverPort()),
               Alert::Style::warning,
               {QStringLiteral("OK")}}));
}

// Engine settings changed while traffic flows: one reload after the quiet period, on the port the user
// never chose, and the traffic still flows.
TEST_F(AppStateTest, SettingsChangedWhileTrafficFlowsReloadOnceAndTheTrafficStillFlows)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    // The mixed port as a new user has it: never written.
    m_settings->remove(QStringLiteral("mixedPort"));
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::Any, EngineSettings::defaultMixedPort))
            << "port " << EngineSettings::defaultMixedPort << " is taken on this machine";
    }
    test::TestHttpServer origin([](const test::HttpRequest&) {
        return test::HttpResponse{200, {}, "through the kernel", false};
    });
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    ASSERT_TRUE(test::waitFor([&] { return state.isKernelReady(); }, 15s));
    QSignalSpy reloads(&state, &AppState::hotReloadTriggered);

    // A connection of its own each time, as a new program would open.
    const auto fetch = [&] {
        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"),
                                       EngineSettings::defaultMixedPort));
        QNetworkRequest request(origin.url(QStringLiteral("/")));
        request.setRawHeader("Connection", "close");
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        test::waitFor([&] { return reply->isFinished(); });
        return reply->error() == QNetworkReply::NoError ? reply->readAll() : reply->errorString().toUtf8();
    };
    // The controller answers a moment before the kernel routes traffic: wait for the first to pass.
    const auto flows = [&] { return fetch() == QByteArray("through the kernel"); };
    ASSERT_TRUE(test::waitFor(flows, 10s))
        << test::readFile(workspace() + QStringLiteral("/logs/core.log")).toStdString();

    // Three changes in quick succession: one reload after the quiet period.
    m_settings->setText(QStringLiteral("logLevel"), QStringLiteral("debug"));
    m_settings->setText(QStringLiteral("logLevel"), QStringLiteral("warning"));
    m_settings->setBoolean(QStringLiteral("allowLan"), true);
    ASSERT_TRUE(test::waitFor([&] { return reloads.count() == 1; }, 5s));
    ASSERT_TRUE(test::waitFor(
        [&] {
            const QByteArray configs = controllerGet(QStringLiteral("/configs"));
            return configs.contains("\"log-level\":\"warning\"") && configs.contains("\"allow-lan\":true");
        },
        10s));
    EXPECT_TRUE(test::waitFor(flows, 10s))
        << test::readFile(workspace() + QStringLiteral("/logs/core.log")).toStdString();

    // Writes that change no override, in a quiet period of their own, reload nothing.
    m_settings->setBoolean(QStringLiteral("allowLan"), true);
    m_settings->setText(QStringLiteral("systemProxyBypass"), QStringLiteral("localhost"));
    EXPECT_FALSE(test::waitFor([&] { return reloads.count() > 1; }, AppState::hotReloadDelay + 1s));
    EXPECT_TRUE(m_alerts.alerts.isEmpty()) << m_alerts.alerts.value(0).text.toStdString();
}

// A newer kernel installed from the release feed while the old one runs: the running kernel is restarted
// on the new executable, which then answers.
TEST_F(AppStateTest, InstalledKernelUpdateRestartsTheRunningKernel)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    test::ReleaseFeedServer feed;
    feed.publish(QStringLiteral("MetaCubeX/mihomo"), QStringLiteral("v1.19.31"), false,
                 {{QStringLiteral("mihomo-darwin-arm64-v1.19.31.gz"), "another machine's", -1, 200},
                  test::ReleaseFeedServer::kernelAsset(QStringLiteral("v1.19.31"), test::gzipped(kernel))});
    m_settings->setText(QStringLiteral("releases.apiBaseURL"), feed.apiBase());
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    const qint32 oldPid = state.kernelStatus().pid;
    EXPECT_EQ(state.runtimeManager().state(), RuntimeState::ready(QStringLiteral("Installed")));

    test::await(state.runtimeManager().installOrUpdate(RuntimeChannel::stable), 60s);
    ASSERT_EQ(state.runtimeManager().state(), RuntimeState::ready(QStringLiteral("v1.19.31")));
    const QString newBinary = workspace() + QStringLiteral("/core/versions/v1.19.31/mihomo");
    ASSERT_TRUE(test::waitFor(
        [&] {
            return state.kernelStatus().kind == KernelStatus::Kind::running &&
                   state.kernelStatus().pid != oldPid &&
                   QFileInfo(QStringLiteral("/proc/%1/exe").arg(state.kernelStatus().pid)).symLinkTarget() ==
                       newBinary;
        },
        30s));
    EXPECT_FALSE(state.runtimeManager().isPendingRestart());
    EXPECT_EQ(::kill(oldPid, 0), -1);
    ASSERT_TRUE(test::waitFor([&] { return !controllerGet(QStringLiteral("/version")).isEmpty(); }, 15s));
}
