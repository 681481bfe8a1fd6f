#include "../DesktopAppTest.h"
#include "support/TestSupport.h"
#include "ui/menubar/MenuBarManager.h"

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

QAction* action(QMenu& menu, const QString& text)
{
    for (QAction* candidate : menu.actions()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

// The tray as a desktop shows it: Xvfb with trayer (an XEmbed tray), started before QApplication
// connects to it, so without Qt's own process handling.
class TrayHost
{
public:
    bool start()
    {
        for (int display = 150; display < 250; ++display) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
            if (access(socket.c_str(), F_OK) == 0)
                continue;
            const std::string name = ":" + std::to_string(display);
            if (!spawn({"Xvfb", name, "-screen", "0", "800x600x24", "-nolisten", "tcp"}))
                return false;
            for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i)
                std::this_thread::sleep_for(100ms);
            if (access(socket.c_str(), F_OK) != 0)
                return false;
            setenv("DISPLAY", name.c_str(), 1);
            return spawn({"trayer", "--edge", "top", "--height", "28"});
        }
        return false;
    }

    ~TrayHost()
    {
        for (auto pid = m_children.rbegin(); pid != m_children.rend(); ++pid) {
            kill(*pid, SIGTERM);
            waitpid(*pid, nullptr, 0);
        }
    }

private:
    bool spawn(std::vector<std::string> arguments)
    {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            return false;
        m_children.push_back(pid);
        return true;
    }

    std::vector<pid_t> m_children;
};

TrayHost* trayHost = nullptr;

} // namespace

using TrayHostTest = test::DesktopAppTest;

TEST_F(TrayHostTest, TheIconAppearsAndItsMenuRunsTheKernel)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(geodata);
    if (!trayHost) {
        if (test::underCI())
            FAIL() << "Xvfb and trayer are needed (scripts/install-deps.sh)";
        GTEST_SKIP() << "Xvfb and trayer are needed (scripts/install-deps.sh)";
    }
    m_settings->setBoolean(QStringLiteral("isKernelIntentionallyStopped"), true);
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::stopped);

    MenuBarManager& menuBar = *m_frontend.menuBar();
    ASSERT_TRUE(test::waitFor([&] { return menuBar.isTrayAvailable(); }));
    EXPECT_FALSE(m_frontend.mainWindow()); // with a tray there is no window to stand in for it
    ASSERT_TRUE(test::waitFor([&] { return menuBar.trayIcon().geometry().width() > 0; }));

    // A right click on the embedded icon opens the menu.
    const QRect icon = menuBar.trayIcon().geometry();
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(icon.center().x()),
                       QString::number(icon.center().y()), QStringLiteral("click"), QStringLiteral("3")});
    ASSERT_TRUE(test::waitFor([&] { return menuBar.menu().isVisible(); }));
    ASSERT_TRUE(action(menuBar.menu(), QStringLiteral("Kernel: Stopped")));
    action(menuBar.menu(), QStringLiteral("Start Kernel"))->trigger();
    menuBar.menu().hide();
    ASSERT_TRUE(test::waitFor([&] { return state.kernelStatus().kind == KernelStatus::Kind::running; }, 60s));
    ASSERT_TRUE(test::waitFor([&] { return state.mihomoVersion().has_value(); }, 20s));

    menuBar.rebuildMenu();
    ASSERT_TRUE(action(menuBar.menu(), QStringLiteral("Kernel: Running (v1.19.30)")));
    action(menuBar.menu(), QStringLiteral("Global"))->trigger();
    const MihomoClient client = state.client();
    EXPECT_TRUE(test::waitFor([&] { return test::await(client.currentMode()) == OutboundMode::global; }));

    menuBar.rebuildMenu();
    EXPECT_TRUE(action(menuBar.menu(), QStringLiteral("Global"))->isChecked());
    action(menuBar.menu(), QStringLiteral("Stop Kernel"))->trigger();
    EXPECT_TRUE(test::waitFor([&] { return !state.supervisor().isRunning(); }, 20s));
    EXPECT_EQ(state.kernelStatus().kind, KernelStatus::Kind::stopped);
}

int main(int argc, char** argv)
{
    const QTemporaryDir home;
    if (!test::isolateEnvironment(home))
        return 1;
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The X server comes before the application that connects to it; the wait needs an event loop.
    TrayHost host;
    if (host.start())
        trayHost = &host;
    if (!trayHost)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
