// Kernel processes as the helper starts and stops them, with shell scripts standing in for the kernel.
#include "helper/KernelLauncher.h"

#include "helper/HelperError.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

const QString kShell = "/bin/sh";

QStringList script(const QString& body)
{
    return {"-c", body};
}

bool processGone(qint32 pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}
bool groupGone(qint32 pid)
{
    return ::kill(-pid, 0) != 0 && errno == ESRCH;
}

class KernelLauncherTest : public ::testing::Test
{
protected:
    QString logFile() const { return m_dir.filePath("core.log"); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(KernelLauncherTest, StartsUnderTheKernelNameInItsOwnGroupAndAppendsToTheLog)
{
    test::writeFile(logFile(), "earlier run\n");
    KernelLauncher launcher(5s);
    // The helper's own CLASH_ variables never reach a kernel; the ones it is given do.
    qputenv("CLASH_OVERRIDE_EXTERNAL_CONTROLLER", "0.0.0.0:1");
    const qint32 pid = launcher.start(
        kShell,
        script(QStringLiteral(
            "echo out; echo err >&2; echo \"env:$CLASH_OVERRIDE_EXTERNAL_CONTROLLER:"
            "$CLASH_OVERRIDE_SECRET\"; read line; echo \"stdin:$?\"; while :; do sleep 1; done")),
        {"CLASH_OVERRIDE_SECRET=s"}, logFile());
    qunsetenv("CLASH_OVERRIDE_EXTERNAL_CONTROLLER");
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(launcher.isRunning(pid));

    EXPECT_TRUE(test::waitFor([&] { return test::readFile(logFile()).endsWith("stdin:1\n"); }))
        << test::readFile(logFile()).toStdString();
    // Earlier output is kept, both streams land in order, standard input is empty.
    EXPECT_EQ(test::readFile(logFile()), "earlier run\nout\nerr\nenv::s\nstdin:1\n");

    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly));
    EXPECT_TRUE(cmdline.readAll().startsWith(QByteArrayLiteral("mihomo\0-c\0")));
    EXPECT_EQ(::getpgid(pid), pid);

    test::await(launcher.stop(pid));
    EXPECT_FALSE(launcher.isRunning(pid));
    // Reaped, not left a zombie, and the script's sleep went with it.
    EXPECT_TRUE(processGone(pid));
    EXPECT_TRUE(test::waitFor([&] { return groupGone(pid); }));
}

TEST_F(KernelLauncherTest, KillsAKernelThatIgnoresTermAfterTheGracePeriod)
{
    KernelLauncher launcher(300ms);
    const qint32 pid = launcher.start(kShell, script("trap '' TERM; echo ready; while :; do sleep 0.1; done"),
                                      {}, logFile());
    ASSERT_TRUE(test::waitFor([&] { return test::readFile(logFile()).contains("ready"); }));

    test::await(launcher.stop(pid));
    EXPECT_TRUE(processGone(pid));
    // The ignored TERM is inherited by the script's children; SIGKILL reached them through the group.
    EXPECT_TRUE(test::waitFor([&] { return groupGone(pid); }));
}

TEST_F(KernelLauncherTest, StopsOnlyWhatItStarted)
{
    KernelLauncher launcher(5s);
    EXPECT_EQ(test::errorText<HelperError>([&] { test::await(launcher.stop(1)); }),
              "PID 1 was not started by the helper");

    // A kernel that exited on its own counts as stopped, once; then it is forgotten.
    const qint32 pid = launcher.start(kShell, script("exit 3"), {}, logFile());
    ASSERT_TRUE(test::waitFor([&] {
        launcher.reap();
        return !launcher.isRunning(pid);
    }));
    EXPECT_TRUE(processGone(pid));
    test::await(launcher.stop(pid));
    EXPECT_EQ(test::errorText<HelperError>([&] { test::await(launcher.stop(pid)); }),
              QStringLiteral("PID %1 was not started by the helper").arg(pid));
}

TEST_F(KernelLauncherTest, ReportsWhyAStartFailed)
{
    KernelLauncher launcher(5s);
    EXPECT_EQ(test::errorText<HelperError>([&] { launcher.start("/nonexistent/mihomo", {}, {}, logFile()); }),
              "Failed to start /nonexistent/mihomo: No such file or directory");
    EXPECT_EQ(test::errorText<HelperError>(
                  [&] { launcher.start(kShell, script("true"), {}, "/nonexistent/core.log"); }),
              "Cannot open log file /nonexistent/core.log: No such file or directory");
}

TEST_F(KernelLauncherTest, TakesItsKernelsAlongWhenItGoes)
{
    qint32 pid = 0;
    {
        KernelLauncher launcher(1s);
        pid = launcher.start(kShell, script("while :; do sleep 1; done"), {}, logFile());
        ASSERT_FALSE(processGone(pid));
    }
    EXPECT_TRUE(processGone(pid));
}
