// The system proxy end to end on a desktop of the test's own: a temporary HOME with GNOME's settings on
// their keyfile backend and a KDE kioslaverc, each holding a proxy the user set by hand. The real
// application and helper point both at the real kernel, and nothing they do outlives them.
#include "helper/KdeProxySettings.h"
#include "platform/Settings.h"
#include "support/AppTestSetup.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

const QByteArray kUserKioslaverc =
    "[Proxy Settings]\nNoProxyFor=corp.local\nProxyType=1\nhttpProxy=http://proxy.corp 3128\n";

class SystemProxyTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        const QString gsettingsPath = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
        if (gsettingsPath.isEmpty()) {
            if (test::underCI())
                FAIL() << "gsettings is not installed (scripts/install-deps.sh)";
            GTEST_SKIP() << "gsettings is not installed";
        }
        if (!test::installKernel(workspace())) {
            if (test::underCI())
                FAIL() << "the kernel or its geodata is not provisioned";
            GTEST_SKIP() << "the kernel or its geodata is not provisioned";
        }
        m_kernelFile = workspace() + QStringLiteral("/core/versions/v1.19.30/mihomo");

        // Only gsettings on the PATH: no NetworkManager or resolvectl of this machine is ever reached.
        QDir().mkpath(m_dir.filePath(QStringLiteral("bin")));
        ASSERT_TRUE(QFile::link(gsettingsPath, m_dir.filePath(QStringLiteral("bin/gsettings"))));
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("PATH"), m_dir.filePath(QStringLiteral("bin")));
        m_environment.insert(QStringLiteral("HOME"), m_dir.path());
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        m_environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
        m_environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        m_environment.insert(QStringLiteral("TARNWICK_SETTINGS"), settingsPath());
        m_environment.insert(QStringLiteral("TARNWICK_WORKSPACE"), workspace());
        m_environment.insert(QStringLiteral("TARNWICK_HELPER_SOCKET"), socketPath());

        gsettings({"set", "org.gnome.system.proxy", "mode", "'manual'"});
        gsettings({"set", "org.gnome.system.proxy.http", "host", "'proxy.corp'"});
        gsettings({"set", "org.gnome.system.proxy.http", "port", "3128"});
        gsettings({"set", "org.gnome.system.proxy", "ignore-hosts", "['corp.local']"});
        test::writeFile(kioslaverc(), kUserKioslaverc);
        m_userProxy = gnomeProxy();

        Settings settings(settingsPath());
        test::prepareAppSettings(settings, m_nothing.url());
        m_mixedPort = quint16(settings.integer(QStringLiteral("mixedPort"), 0));
        settings.setBoolean(QStringLiteral("systemProxyEnabled"), true);
    }

    void TearDown() override
    {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.kill();
            m_app.waitForFinished();
        }
        test::unregisterHelper(socketPath());
    }

    QString workspace() const { return m_dir.filePath(QStringLiteral("workspace")); }
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    QString socketPath() const { return m_dir.filePath(QStringLiteral("run/helper.sock")); }
    QString kioslaverc() const { return m_dir.filePath(QStringLiteral("config/kioslaverc")); }

    QString gsettings(const QStringList& arguments) const
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(m_dir.filePath(QStringLiteral("bin/gsettings")), arguments);
        process.waitForFinished();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    QStringList gnomeProxy() const
    {
        return {gsettings({"get", "org.gnome.system.proxy", "mode"}),
                gsettings({"get", "org.gnome.system.proxy", "ignore-hosts"}),
                gsettings({"get", "org.gnome.system.proxy.http", "host"}),
                gsettings({"get", "org.gnome.system.proxy.http", "port"}),
                gsettings({"get", "org.gnome.system.proxy.socks", "host"}),
                gsettings({"get", "org.gnome.system.proxy.socks", "port"})};
    }

    bool userProxyIsBack() const
    {
        return gnomeProxy() == m_userProxy && test::readFile(kioslaverc()).toUtf8() == kUserKioslaverc;
    }

    // Launches the application and waits until both desktops point at the kernel.
    void launchWithTheSystemProxyOn()
    {
        m_app.setProcessEnvironment(m_environment);
        m_app.setProcessChannelMode(QProcess::MergedChannels);
        m_app.start(test::binaryDir() + QStringLiteral("/bin/tarnwick-app"), {QStringLiteral("--headless")});
        ASSERT_TRUE(m_app.waitForStarted(5000));
        const QString port = QString::number(m_mixedPort);
        const QStringList pointingAtTheKernel{
            QStringLiteral("'manual'"),    QStringLiteral("['localhost', '127.0.0.1', '*.local']"),
            QStringLiteral("'127.0.0.1'"), port,
            QStringLiteral("'127.0.0.1'"), port};
        const bool on = test::waitFor(
            [&] {
                m_log += m_app.readAll();
                return gnomeProxy() == pointingAtTheKernel &&
                       KdeProxySettings::entry(test::readFile(kioslaverc()).toUtf8(),
                                               QStringLiteral("NoProxyFor")) ==
                           QStringLiteral("localhost,127.0.0.1,*.local");
            },
            40s);
        ASSERT_TRUE(on) << m_log.toStdString() << gnomeProxy().join(' ').toStdString();
        EXPECT_EQ(KdeProxySettings::entry(test::readFile(kioslaverc()).toUtf8(), QStringLiteral("httpProxy")),
                  QStringLiteral("http://127.0.0.1 ") + port);
    }

    qint32 kernelPid()
    {
        m_log += m_app.readAll();
        QRegularExpressionMatchIterator started =
            QRegularExpression(QStringLiteral("Kernel started \\(PID: (\\d+)\\)"))
                .globalMatch(QString::fromUtf8(m_log));
        qint32 pid = -1;
        while (started.hasNext())
            pid = started.next().captured(1).toInt();
        return pid;
    }

    QTemporaryDir m_dir;
    test::TestHttpServer m_nothing{[](const test::HttpRequest&) {
        return test::HttpResponse{404, {}, "nothing here", false};
    }};
    QProcessEnvironment m_environment;
    QString m_kernelFile;
    quint16 m_mixedPort = 0;
    QStringList m_userProxy;
    QProcess m_app;
    QByteArray m_log;
};

TEST_F(SystemProxyTest, KillingTheApplicationPutsBackTheUsersProxyAndStopsItsKernel)
{
    launchWithTheSystemProxyOn();
    const qint32 kernel = kernelPid();
    ASSERT_GT(kernel, 0);
    ::kill(static_cast<pid_t>(m_app.processId()), SIGKILL);
    QElapsedTimer restore;
    restore.start();
    EXPECT_TRUE(test::waitFor([&] { return userProxyIsBack(); }, 2s)) << gnomeProxy().join(' ').toStdString();
    RecordProperty("restored_after_kill_ms", static_cast<int>(restore.elapsed()));
    EXPECT_TRUE(test::waitFor([&] { return ::kill(kernel, 0) != 0; }, 10s));
    m_app.waitForFinished();
}

TEST_F(SystemProxyTest, AKernelThatKeepsDyingTakesTheSystemProxyWithItButNotTheChoice)
{
    launchWithTheSystemProxyOn();
    // From now on the kernel passes its configuration test and dies as soon as it runs.
    QFile::remove(m_kernelFile);
    test::writeFile(m_kernelFile,
                    "#!/bin/sh\nfor a; do last=$a; done\n[ \"$last\" = -t ] && exit 0\nexit 3\n");
    QFile::setPermissions(m_kernelFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::kill(kernelPid(), SIGKILL);
    EXPECT_TRUE(test::waitFor([&] { return userProxyIsBack(); }, 30s))
        << gnomeProxy().join(' ').toStdString();
    EXPECT_EQ(Settings(settingsPath()).boolean(QStringLiteral("systemProxyEnabled")), true);
    m_app.terminate();
    EXPECT_TRUE(m_app.waitForFinished(15000));
    EXPECT_TRUE(userProxyIsBack());
    EXPECT_EQ(Settings(settingsPath()).boolean(QStringLiteral("systemProxyEnabled")), true);
}

} // namespace
