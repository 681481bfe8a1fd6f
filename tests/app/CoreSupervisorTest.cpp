#include "app/CoreSupervisor.h"

#include "app/CoreXPCLauncher.h"
#include "app/HelperClientError.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QCoro/QCoroTimer>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// Stands in for the helper where its failures have to be provoked: records every call in order and
// fails the ones it is told to. Each call takes a moment, so overlapping callers would interleave.
class RecordingLauncher final : public CoreXPCLauncher
{
public:
    QCoro::Task<qint32> startKernel(QString executablePath, QStringList arguments, QString logFile) override
    {
        calls.append(QStringLiteral("start %1 %2 > %3").arg(executablePath, arguments.join(u' '), logFile));
        co_await QCoro::sleepFor(20ms);
        calls.append(QStringLiteral("started"));
        co_return ++m_nextPid;
    }
    QCoro::Task<> stopKernel(qint32 pid) override
    {
        calls.append(QStringLiteral("stop %1").arg(pid));
        co_await QCoro::sleepFor(5ms);
        if (failStop)
            throw HelperClientError::helperError(QStringLiteral("not mine"));
    }
    QCoro::Task<> runSystemCommand(QString command, QStringList arguments) override
    {
        calls.append(command + u' ' + arguments.join(u' '));
        co_await QCoro::sleepFor(5ms);
        if (failCleanup)
            throw HelperClientError::helperError(QStringLiteral("/usr/bin/pkill exited with status 1"));
    }

    QStringList calls;
    bool failCleanup = false;
    bool failStop = false;

private:
    qint32 m_nextPid = 1000;
};

class CoreSupervisorTest : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath(QStringLiteral("settings.ini"))};
    ClashPaths m_paths{m_dir.filePath(QStringLiteral("ws"))};
    RecordingLauncher m_launcher;
    CoreSupervisor m_supervisor{m_paths, m_launcher, m_settings};
    QString ws() const { return m_paths.applicationSupportDirectory(); }
};

QCoro::Task<> collect(QCoro::Task<qint32> task, std::shared_ptr<QList<qint32>> pids)
{
    pids->append(co_await std::move(task));
}

} // namespace

TEST_F(CoreSupervisorTest, StartsWithCleanupAndTheFullCommandLine)
{
    m_settings.setInteger(QStringLiteral("apiPort"), 9191);
    m_launcher.failCleanup = true; // nothing to clean up is no reason not to start
    EXPECT_EQ(test::await(m_supervisor.start()), 1001);
    EXPECT_TRUE(m_supervisor.isRunning());
    EXPECT_EQ(m_supervisor.currentPID(), 1001);

    const QString secret = m_settings.text(QStringLiteral("apiSecret"), {});
    ASSERT_EQ(secret.size(), 32);
    EXPECT_EQ(m_launcher.calls,
              (QStringList{QStringLiteral("/usr/bin/pkill -9 -f mihomo -d"),
                           QStringLiteral("start %1core/current -d %1work/ -f %1work/config.json -ext-ctl "
                                          "127.0.0.1:9191 -secret %2 > %1logs/core.log")
                               .arg(ws(), secret),
                           QStringLiteral("started")}));
    EXPECT_TRUE(QFileInfo(ws() + QStringLiteral("core/versions")).isDir());
}

TEST_F(CoreSupervisorTest, OverlappingStartsLaunchOneKernel)
{
    auto pids = std::make_shared<QList<qint32>>();
    collect(m_supervisor.start(), pids);
    collect(m_supervisor.start(), pids);
    ASSERT_TRUE(test::waitFor([&] { return pids->size() == 2; }));
    EXPECT_EQ(*pids, (QList<qint32>{1001, 1001}));
    EXPECT_EQ(m_launcher.calls.count(QStringLiteral("started")), 1);
}

TEST_F(CoreSupervisorTest, StopFailureKeepsThePidForARetry)
{
    test::await(m_supervisor.start());
    m_launcher.failStop = true;
    EXPECT_THROW(test::await(m_supervisor.stop()), HelperClientError);
    EXPECT_TRUE(m_supervisor.isRunning());
    EXPECT_EQ(m_supervisor.currentPID(), 1001);

    m_launcher.failStop = false;
    test::await(m_supervisor.stop());
    EXPECT_FALSE(m_supervisor.isRunning());
    EXPECT_FALSE(m_supervisor.currentPID().has_value());
    // Without a pid there is nothing to stop.
    const qsizetype calls = m_launcher.calls.size();
    test::await(m_supervisor.stop());
    EXPECT_EQ(m_launcher.calls.size(), calls);
}

TEST_F(CoreSupervisorTest, RestartStopsThenStartsAgain)
{
    // Not running: exactly a start.
    EXPECT_EQ(test::await(m_supervisor.restart()), 1001);
    m_launcher.calls.clear();
    EXPECT_EQ(test::await(m_supervisor.restart()), 1002);
    ASSERT_EQ(m_launcher.calls.size(), 4);
    EXPECT_EQ(m_launcher.calls[0], QStringLiteral("stop 1001"));
    EXPECT_EQ(m_launcher.calls[1], QStringLiteral("/usr/bin/pkill -9 -f mihomo -d"));
    EXPECT_EQ(m_supervisor.currentPID(), 1002);
}
