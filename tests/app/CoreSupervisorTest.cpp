#include "app/CoreSupervisor.h"

#include "app/CoreXPCLauncher.h"
#include "app/HelperClient.h"
#include "app/HelperClientError.h"
#include "platform/Settings.h"
#include "support/HelperProcess.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"
#include "support/TestUser.h"

#include <QCoro/QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <csignal>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// Stands in for the helper where its failures have to be provoked: records every call in order and
// fails the ones it is told to. Each call takes a moment, so overlapping callers would interleave.
class RecordingLauncher final : public CoreXPCLauncher
{
public:
    QCoro::Task<qint32> startKernel(QString executablePath, QStringList arguments,
                                    QMap<QString, QString> environment, QString logFile) override
    {
        QStringList variables;
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            variables.append(it.key() + u'=' + it.value() + u' ');
        calls.append(QStringLiteral("start %1%2 %3 > %4")
                         .arg(variables.join(QString()), executablePath, arguments.join(u' '), logFile));
        co_await QCoro::sleepFor(20ms);
        calls.append("started");
        co_return ++m_nextPid;
    }
    QCoro::Task<> stopKernel(qint32 pid) override
    {
        calls.append(QStringLiteral("stop %1").arg(pid));
        co_await QCoro::sleepFor(5ms);
        if (failStop)
            throw HelperClientError::helperError("not mine");
    }
    QCoro::Task<> runSystemCommand(QString command, QStringList arguments) override
    {
        calls.append(command + u' ' + arguments.join(u' '));
        co_await QCoro::sleepFor(5ms);
    }
    // These kernels never end on their own.
    QCoro::Task<std::optional<QString>> waitForKernelExit(qint32, std::chrono::milliseconds bound) override
    {
        co_await QCoro::sleepFor(bound);
        co_return std::nullopt;
    }

    QStringList calls;
    bool failStop = false;

private:
    qint32 m_nextPid = 1000;
};

class CoreSupervisorTest : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath("settings.ini")};
    ClashPaths m_paths{m_dir.filePath("ws")};
    RecordingLauncher m_launcher;
    CoreSupervisor m_supervisor{m_paths, m_launcher, m_settings};
    QString ws() const { return m_paths.applicationSupportDirectory(); }
};

QCoro::Task<> collect(QCoro::Task<qint32> task, std::shared_ptr<QList<qint32>> pids)
{
    pids->append(co_await std::move(task));
}

} // namespace

TEST_F(CoreSupervisorTest, StartsWithTheFullCommandLine)
{
    m_settings.setInteger("apiPort", 9191);
    EXPECT_EQ(test::await(m_supervisor.start()), 1001);
    EXPECT_TRUE(m_supervisor.isRunning());
    EXPECT_EQ(m_supervisor.currentPID(), 1001);

    const QString secret = m_settings.text("apiSecret", {});
    ASSERT_EQ(secret.size(), 32);
    EXPECT_EQ(m_launcher.calls,
              (QStringList{// The secret in the environment, never on the command line.
                           QStringLiteral("start CLASH_OVERRIDE_SECRET=%2 %1core/current -d %1work/ -f "
                                          "%1work/config.json -ext-ctl 127.0.0.1:9191 > %1logs/core.log")
                               .arg(ws(), secret),
                           "started"}));
    EXPECT_TRUE(QFileInfo(ws() + "core/versions").isDir());
}

TEST_F(CoreSupervisorTest, OverlappingStartsLaunchOneKernel)
{
    auto pids = std::make_shared<QList<qint32>>();
    collect(m_supervisor.start(), pids);
    collect(m_supervisor.start(), pids);
    ASSERT_TRUE(test::waitFor([&] { return pids->size() == 2; }));
    EXPECT_EQ(*pids, (QList<qint32>{1001, 1001}));
    EXPECT_EQ(m_launcher.calls.count("started"), 1);
}

TEST_F(CoreSupervisorTest, RestartStopsWhatRunsAndAFailedStopForgetsTheKernel)
{
    // Not running: exactly a start.
    EXPECT_EQ(test::await(m_supervisor.restart()), 1001);
    m_launcher.calls.clear();
    EXPECT_EQ(test::await(m_supervisor.restart()), 1002);
    ASSERT_EQ(m_launcher.calls.size(), 3);
    EXPECT_EQ(m_launcher.calls[0], "stop 1001");
    EXPECT_EQ(m_supervisor.currentPID(), 1002);

    m_launcher.failStop = true;
    EXPECT_THROW(test::await(m_supervisor.stop()), HelperClientError);
    EXPECT_FALSE(m_supervisor.isRunning());
    EXPECT_FALSE(m_supervisor.currentPID().has_value());
    // The next restart is a plain start (its orphan clean-up ends whatever the failed stop left), not a
    // second try at stopping the forgotten kernel.
    m_launcher.calls.clear();
    EXPECT_EQ(test::await(m_supervisor.restart()), 1003);
    EXPECT_FALSE(m_launcher.calls.contains("stop 1002"));
}

TEST_F(CoreSupervisorTest, StartEndsOnlyThisUsersKernelsOfThisWorkspace)
{
    TARNWICK_REQUIRE_TEST_USER(user);
    const QString work = m_paths.workDirectory();
    const QString config = m_paths.runtimeConfigFile();
    // Stand-ins that block reading standard input, with the command lines under test after the script.
    const auto stray = [&](const QStringList& arguments, bool asOtherUser = false) {
        auto process = std::make_unique<QProcess>();
        QStringList command{"/bin/sh", "-c", "read line", "mihomo"};
        if (asOtherUser)
            command = QStringList{"setpriv", QStringLiteral("--reuid=%1").arg(*user.uid()),
                                  QStringLiteral("--regid=%1").arg(user.gid()), "--clear-groups", "--"} +
                      command;
        const QString program = command.takeFirst();
        process->start(program, command + arguments);
        EXPECT_TRUE(process->waitForStarted(5000));
        return process;
    };
    const auto orphan = stray({"-d", work, "-f", config});
    const auto unslashed = stray({"-d", QDir::cleanPath(work), "-f", config});
    const auto otherWorkspace = stray({"-d", m_dir.filePath("other/work/"), "-f", config});
    const auto longerPath = stray({"-d", QDir::cleanPath(work) + "-old", "-f", config});
    const auto configTest = stray({"-d", work, "-f", config, "-t"});
    const auto otherUser = stray({"-d", work, "-f", config}, true);
    // Wait until the other user's stand-in runs the shell (setpriv execs it).
    ASSERT_TRUE(test::waitFor([&] {
        return test::readFile(QStringLiteral("/proc/%1/cmdline").arg(otherUser->processId()))
            .startsWith("/bin/sh");
    }));

    test::await(m_supervisor.start());
    EXPECT_TRUE(test::waitFor([&] {
        return orphan->state() == QProcess::NotRunning && unslashed->state() == QProcess::NotRunning;
    }));
    for (QProcess* survivor : {otherWorkspace.get(), longerPath.get(), configTest.get(), otherUser.get()}) {
        EXPECT_EQ(survivor->state(), QProcess::Running) << survivor->arguments().join(u' ').toStdString();
        survivor->kill();
        survivor->waitForFinished(5000);
    }
}

namespace {

// The real kernel in a workspace of its own, launched through a real helper.
class CoreSupervisorKernelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TARNWICK_REQUIRE_KERNEL(kernel);
        TARNWICK_REQUIRE_GEODATA(mmdb);
        ASSERT_TRUE(test::installKernel(m_paths.applicationSupportDirectory()));
        test::writeFile(m_paths.runtimeConfigFile(), R"({"log-level": "info", "rules": ["MATCH,DIRECT"]})");
        m_settings.setInteger("apiPort", test::freePort());
        startHelper();
        HelperRegistration::Options options;
        options.socketPath = socketPath();
        options.helperExecutable = test::HelperProcess::executable();
        options.systemctl = "/bin/false";
        m_client = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});
        m_supervisor = std::make_unique<CoreSupervisor>(m_paths, *m_client, m_settings);
    }

    void TearDown() override
    {
        if (m_supervisor && m_supervisor->isRunning())
            test::await(m_supervisor->stop());
    }

    QString socketPath() const { return m_run.filePath("helper.sock"); }
    void startHelper()
    {
        m_helper = std::make_unique<test::HelperProcess>(socketPath());
        ASSERT_TRUE(m_helper->start());
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_run; // short enough for a socket path
    Settings m_settings{m_dir.filePath("settings.ini")};
    ClashPaths m_paths{m_dir.filePath("ws")};
    std::unique_ptr<test::HelperProcess> m_helper;
    std::unique_ptr<HelperClient> m_client;
    std::unique_ptr<CoreSupervisor> m_supervisor;
};

bool alive(qint32 pid)
{
    return ::kill(pid, 0) == 0;
}

} // namespace

TEST_F(CoreSupervisorKernelTest, KernelKilledFromOutsideIsReportedAndForgotten)
{
    const qint32 pid = test::await(m_supervisor->start());
    QSignalSpy exits(m_supervisor.get(), &CoreSupervisor::kernelExited);
    QElapsedTimer notice;
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    notice.start();
    ASSERT_TRUE(test::waitFor([&] { return exits.count() == 1; }, 2s)) << m_helper->log().toStdString();
    RecordProperty("death_notice_ms", static_cast<int>(notice.elapsed()));
    EXPECT_EQ(exits.first().value(0).toInt(), pid);
    EXPECT_EQ(exits.first().value(1).toString(), "killed by signal 9");
    EXPECT_FALSE(m_supervisor->isRunning());

    const qint32 next = test::await(m_supervisor->start());
    EXPECT_NE(next, pid);
    EXPECT_TRUE(alive(next));
    // A stop is no end to report.
    test::await(m_supervisor->stop());
    EXPECT_FALSE(test::waitFor([&] { return exits.count() > 1; }, 500ms));
}

TEST_F(CoreSupervisorKernelTest, HelperRestartLeavesNoDeadKernelBehind)
{
    const qint32 pid = test::await(m_supervisor->start());
    QSignalSpy exits(m_supervisor.get(), &CoreSupervisor::kernelExited);
    // The helper goes (taking its kernel along) and a new one that never heard of the pid takes its place.
    m_helper.reset();
    ASSERT_FALSE(alive(pid));
    startHelper();
    // Whichever comes first, the watch reporting the lost kernel or the stop asking the new helper for it,
    // the kernel is forgotten exactly once, in its own words.
    const QString stopError = test::errorText<HelperClientError>(m_supervisor->stop());
    if (exits.isEmpty()) {
        EXPECT_EQ(stopError, QStringLiteral("Helper error: PID %1 was not started by the helper").arg(pid));
    } else {
        EXPECT_EQ(stopError, "(no error)");
        ASSERT_EQ(exits.count(), 1);
        EXPECT_EQ(exits.first().value(1).toString(), "the helper no longer knows it");
    }
    const qint32 next = test::await(m_supervisor->start());
    EXPECT_NE(next, pid);
    EXPECT_TRUE(alive(next));
    EXPECT_TRUE(m_supervisor->isRunning());
    EXPECT_LE(exits.count(), 1);
}
