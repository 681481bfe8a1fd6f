#include "platform/Settings.h"
#include "support/AppTestSetup.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// This build's executables as a bundle directory of the given version.
void makeBundle(const QString& path, const QByteArray& version)
{
    QDir().mkpath(path + "/bin");
    for (const char* executable : {"tarnwick-app", "tarnwick-helper", "tarnwick"}) {
        const QString name = QString::fromLatin1(executable);
        ASSERT_TRUE(QFile::copy(test::binaryDir() + "/bin/" + name, path + "/bin/" + name));
    }
    test::writeFile(path + "/share/tarnwick/Info.ini", "ShortVersion=" + version + "\nBuild=1\n");
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The running application finds a newer release on its feed, downloads and unpacks it, has the helper put
// it in place of its own bundle under ~/Applications, cleans up (kernel stopped, modes written) and
// relaunches: the new bundle's application reports the new version and runs the kernel again.
TEST(SelfUpdateTest, RunningApplicationReplacesItsBundleAndRelaunches)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(geodata);
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString installed = home + "/Applications/Tarnwick";
    makeBundle(installed, TARNWICK_VERSION);

    const QString release = "Tarnwick-99.0.0-linux-amd64";
    makeBundle(dir.filePath("newer/" + release), "99.0.0");
    QProcess zip;
    zip.setWorkingDirectory(dir.filePath("newer"));
    zip.start("zip", {"-qr", "../release.zip", release});
    ASSERT_TRUE(zip.waitForFinished(60000) && zip.exitCode() == 0)
        << zip.readAllStandardError().toStdString();
    test::ReleaseFeedServer feed;
    feed.publish("publisher/Tarnwick", "v99.0.0", false,
                 {{release + ".zip", readAll(dir.filePath("release.zip")), -1, 200}});

    const QString workspace = dir.filePath("workspace");
    ASSERT_TRUE(test::installKernel(workspace));
    const QString settingsPath = dir.filePath("settings.ini");
    {
        Settings settings(settingsPath);
        test::prepareAppSettings(settings, feed.apiBase());
        settings.setText("update.repository", "publisher/Tarnwick");
    }
    const QString socketPath = dir.filePath("run/helper.sock");
    const QString logPath = dir.filePath("app.log");

    // Output into a file, which the relaunched application writes to as well.
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    environment.insert("XDG_DATA_HOME", dir.filePath("data"));
    environment.insert("TARNWICK_SETTINGS", settingsPath);
    environment.insert("TARNWICK_WORKSPACE", workspace);
    environment.insert("TARNWICK_HELPER_SOCKET", socketPath);
    environment.insert("LOG", logPath);
    environment.remove("TARNWICK_HELPER_PATH");
    app.setProcessEnvironment(environment);
    app.start("/bin/sh", {"-c", "exec \"$0\" \"$@\" >>\"$LOG\" 2>&1", installed + "/bin/tarnwick-app",
                          "--headless", "--update"});
    ASSERT_TRUE(app.waitForStarted(5000));

    const QRegularExpression newStart("Tarnwick 99\\.0\\.0 starting \\(PID: (\\d+)\\)");
    QString log;
    const bool relaunched = test::waitFor(
        [&] {
            log = QString::fromUtf8(readAll(logPath));
            const qsizetype start = log.indexOf(newStart);
            return start >= 0 && log.indexOf("Tarnwick is up to date", start) >= 0 &&
                   log.indexOf("Global API override applied successfully.", start) >= 0;
        },
        120s);
    const qint64 newPid = newStart.match(log).captured(1).toLongLong();
    const auto stopNewApp = qScopeGuard([&] {
        if (newPid > 0 && ::kill(static_cast<pid_t>(newPid), SIGTERM) == 0)
            test::waitFor([&] { return ::kill(static_cast<pid_t>(newPid), 0) != 0; }, 20s);
        test::unregisterHelper(socketPath);
    });
    ASSERT_TRUE(relaunched) << log.toStdString();

    // The old process ended cleanly once it had cleaned up and handed over.
    ASSERT_TRUE(test::waitFor([&] { return app.state() == QProcess::NotRunning; }, 5s));
    EXPECT_EQ(app.exitCode(), 0);
    const qsizetype oldStart = log.indexOf("Tarnwick " + QStringLiteral(TARNWICK_VERSION) + " starting");
    const QStringList sequence = {QStringLiteral("Updating Tarnwick " TARNWICK_VERSION " to 99.0.0"),
                                  "OTA: cleanup started", "OTA: exit → relaunch " + installed,
                                  "Tarnwick 99.0.0 starting"};
    qsizetype at = oldStart;
    ASSERT_GE(at, 0) << log.toStdString();
    for (const QString& step : sequence) {
        at = log.indexOf(step, at);
        ASSERT_GE(at, 0) << "missing or out of order: " << step.toStdString() << "\n" << log.toStdString();
    }

    // The bundle in place is the new one, whole; nothing was left beside it.
    EXPECT_EQ(readAll(installed + "/share/tarnwick/Info.ini"), QByteArray("ShortVersion=99.0.0\nBuild=1\n"));
    EXPECT_EQ(QDir(home + "/Applications").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"Tarnwick"});
    // The old kernel was stopped, the modes written, and the new instance started the kernel again.
    const QRegularExpression kernelStarted("Kernel started \\(PID: (\\d+)\\)");
    QList<pid_t> kernels;
    for (const QRegularExpressionMatch& match : kernelStarted.globalMatch(log))
        kernels.append(match.captured(1).toInt());
    ASSERT_EQ(kernels.size(), 2) << log.toStdString();
    EXPECT_EQ(::kill(kernels[0], 0), -1);
    EXPECT_EQ(::kill(kernels[1], 0), 0);
    EXPECT_EQ(Settings(settingsPath).boolean("isKernelIntentionallyStopped"), false);
}
