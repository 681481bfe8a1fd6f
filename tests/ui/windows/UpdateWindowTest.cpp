#include "ui/windows/UpdateWindow.h"

#include "app/AppUpdateFlow.h"
#include "app/HelperClient.h"
#include "controller/RateFormatter.h"
#include "platform/Settings.h"
#include "support/AppTestSetup.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;
using Asset = test::ReleaseFeedServer::Asset;

namespace {

const QString kRepository = QStringLiteral("publisher/Tarnwick");

// A bundle of `version` below `root`/`name`: its program and its Info.ini.
void writeBundle(const QString& path, const QString& version)
{
    test::writeFile(path + QStringLiteral("/share/tarnwick/Info.ini"),
                    "ShortVersion=" + version.toUtf8() + "\n");
    test::writeFile(path + QStringLiteral("/bin/tarnwick-app"), "#!/bin/sh\nexit 0\n");
    QFile(path + QStringLiteral("/bin/tarnwick-app"))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray zipDirectory(const QString& directory, const QString& entry)
{
    QProcess zip;
    zip.setWorkingDirectory(directory);
    zip.start(QStringLiteral("zip"), {QStringLiteral("-qr"), QStringLiteral("-"), entry});
    zip.waitForFinished(30000);
    return zip.readAllStandardOutput();
}

QCoro::Task<> nothingToClean()
{
    co_return;
}

// The relaunch an update leaves behind: a detached shell that waits for this process to end, then runs
// the bundle. Its script, after it has been ended so that it runs nothing once the test is gone; empty
// when there is none.
QString endRelaunch()
{
    const QByteArray waiting = "while kill -0 " + QByteArray::number(::getpid()) + " ";
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = file.readAll().split('\0');
        if (arguments.size() >= 3 && arguments[0] == "/bin/sh" && arguments[1] == "-c" &&
            arguments[2].startsWith(waiting) && ::kill(pid.toInt(), SIGKILL) == 0)
            return QString::fromUtf8(arguments[2]);
    }
    return {};
}

} // namespace

// The window follows a real update from the feed: checking, the result with the history, the download
// with its bytes, the three installing steps (the real helper puts the bundle in place), then a failure.
TEST(UpdateWindowTest, ShowsEveryPhaseOfAnUpdateFromTheFeed)
{
    QTemporaryDir dir;
    const QString installed = QDir::homePath() + QStringLiteral("/Applications/Tarnwick");
    writeBundle(installed, QStringLiteral("0.1.0"));
    writeBundle(dir.filePath(QStringLiteral("Tarnwick-0.2.0")), QStringLiteral("0.2.0"));
    const QByteArray archive = zipDirectory(dir.path(), QStringLiteral("Tarnwick-0.2.0"));
    ASSERT_FALSE(archive.isEmpty());
    test::ReleaseFeedServer feed;
    feed.publish(kRepository, QStringLiteral("v0.2.0"), false,
                 {Asset{QStringLiteral("Tarnwick-0.2.0-linux-amd64.zip"), archive, -1, 200}});

    Settings settings(dir.filePath(QStringLiteral("settings.ini")));
    settings.setText(QStringLiteral("releases.apiBaseURL"), feed.apiBase());
    settings.setText(QStringLiteral("update.repository"), kRepository);
    HelperClient helper(test::helperOptions(dir.path()), HelperClient::Timeouts{});
    int terminations = 0;
    AppUpdateFlow flow(settings, helper, AppBundle(installed),
                       {[] { return nothingToClean(); }, [&terminations] { ++terminations; }});
    UpdateWindow window(flow);
    QStringList shown;
    QObject::connect(&flow, &AppUpdateFlow::phaseChanged, &window, [&] {
        const QString line = window.headline() + QStringLiteral(" | ") + window.detail();
        if (shown.value(shown.size() - 1) != line)
            shown.append(line);
    });

    test::await(flow.check(false));
    EXPECT_EQ(shown,
              (QStringList{QStringLiteral("Checking for updates… | "),
                           QStringLiteral("Tarnwick 0.2.0 is available | You have 0.1.0. Installing it "
                                          "restarts Tarnwick; the kernel and the system proxy are "
                                          "switched off and back on.")}));
    EXPECT_TRUE(window.historyText().startsWith(QStringLiteral("0.2.0")));
    EXPECT_EQ(window.actionButton().text(), QStringLiteral("Install and Relaunch"));

    shown.clear();
    window.actionButton().click();
    ASSERT_TRUE(test::waitFor([&] { return terminations == 1; }, 30s)) << shown.join(u'\n').toStdString();
    ASSERT_GE(shown.size(), 5);
    EXPECT_EQ(shown.first(), QStringLiteral("Downloading… | %1").arg(RateFormatter::bytes(0)));
    EXPECT_EQ(
        shown.mid(shown.size() - 4),
        (QStringList{QStringLiteral("Downloading… | %1 of %1").arg(RateFormatter::bytes(archive.size())),
                     QStringLiteral("Installing the update | Extracting..."),
                     QStringLiteral("Installing the update | Installing..."),
                     QStringLiteral("Installing the update | Restarting...")}));
    EXPECT_TRUE(window.actionButton().isHidden());
    EXPECT_EQ(AppBundle(installed).shortVersion(), QStringLiteral("0.2.0"));
    EXPECT_TRUE(endRelaunch().contains(QStringLiteral("\nexec '%1/bin/tarnwick-app'").arg(installed)));
    EXPECT_TRUE(test::waitFor([] { return endRelaunch().isEmpty(); }));

    // A release whose download is gone: the failure and its message, and another try offered.
    feed.publish(kRepository, QStringLiteral("v0.3.0"), false,
                 {Asset{QStringLiteral("Tarnwick-0.3.0-linux-amd64.zip"), {}, -1, 404}});
    test::await(flow.check(false));
    ASSERT_EQ(window.headline(), QStringLiteral("Tarnwick 0.3.0 is available"));
    shown.clear();
    window.actionButton().click();
    ASSERT_TRUE(test::waitFor([&] { return window.headline() == QStringLiteral("The update failed"); }));
    EXPECT_EQ(shown.last(), QStringLiteral("The update failed | Download failed."));
    EXPECT_EQ(window.actionButton().text(), QStringLiteral("Try Again"));
    test::await(helper.unregisterHelper());
}
