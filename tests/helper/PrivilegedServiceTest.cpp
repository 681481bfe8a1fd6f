// Installing and removing the privileged mode. systemctl cannot be pointed at this machine's system
// manager from a test: a stand-in records the command lines it is given.
#include "helper/PrivilegedService.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <unistd.h>

using namespace tarnwick;

TEST(PrivilegedServiceTest, InstallsOneInstancePerUserAndRemovesTheTemplateWithTheLast)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("systemctl.log");
    PrivilegedService::Options options;
    options.helperExecutable = "/opt/tarnwick/bin/tarnwick-helper";
    options.unitDirectory = dir.filePath("system");
    options.systemctl = dir.filePath("systemctl");
    test::writeFile(options.systemctl, QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n").arg(log).toUtf8());
    QFile::setPermissions(options.systemctl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QStringList said;
    options.say = [&](const QString& line) { said.append(line); };

    const uid_t user = ::getuid();
    const QString unit = QStringLiteral("tarnwick-helper-privileged@%1.service").arg(user);
    ASSERT_EQ(PrivilegedService::install(user, options), 0);
    const QString text = test::readFile(options.unitDirectory + "/tarnwick-helper-privileged@.service");
    EXPECT_TRUE(
        text.contains(QLatin1String("ExecStart=/opt/tarnwick/bin/tarnwick-helper --privileged --allow-uid %i "
                                    "--socket /run/tarnwick-privileged/%i/helper.sock\n")))
        << text.toStdString();
    EXPECT_EQ(said.last(),
              QStringLiteral("Installed %1: TUN mode is available to user %2.").arg(unit).arg(user));

    ASSERT_EQ(PrivilegedService::uninstall(user, options), 0);
    EXPECT_FALSE(QFile::exists(options.unitDirectory + "/tarnwick-helper-privileged@.service"));
    EXPECT_EQ(
        test::readFile(log).split('\n', Qt::SkipEmptyParts),
        (QStringList{"daemon-reload", "enable --now " + unit, "disable --now " + unit, "daemon-reload"}));

    // A failing systemctl leaves the user told why.
    options.systemctl = "/bin/false";
    EXPECT_EQ(PrivilegedService::install(user, options), 1);
    EXPECT_EQ(said.last(), "The privileged mode was not installed: false exited with status 1");
}
