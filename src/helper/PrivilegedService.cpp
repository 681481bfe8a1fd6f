#include "PrivilegedService.h"

#include "ToolProcess.h"
#include "config/AtomicFile.h"
#include "platform/HelperSocketPath.h"

#include <QDir>
#include <QFile>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace tarnwick::PrivilegedService {

namespace {

void systemctl(const Options& options, const QStringList& arguments)
{
    ToolProcess::check(options.systemctl, arguments);
}

} // namespace

QString unitName(uid_t uid)
{
    return QStringLiteral("tarnwick-helper-privileged@%1.service").arg(uid);
}

QString socketPath(uid_t uid)
{
    return HelperSocketPath::privilegedPath(uid);
}

QString unitFileText(const QString& helperExecutable)
{
    return QStringLiteral(
               "[Unit]\n"
               "Description=Tarnwick helper with network privileges for TUN mode (user %i)\n"
               "\n"
               "[Service]\n"
               "ExecStart=%1 --privileged --allow-uid %i --socket %2\n"
               "Restart=on-failure\n"
               "# Becoming the user and handing the kernel network administration, and nothing more.\n"
               "CapabilityBoundingSet=CAP_NET_ADMIN CAP_NET_RAW CAP_SETUID CAP_SETGID CAP_SETPCAP CAP_KILL "
               "CAP_CHOWN CAP_FOWNER CAP_DAC_READ_SEARCH\n"
               "\n"
               "[Install]\n"
               "WantedBy=multi-user.target\n")
        .arg(helperExecutable, HelperSocketPath::privilegedRoot + QStringLiteral("/%i/helper.sock"));
}

std::optional<uid_t> invokingUser()
{
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"}) {
        bool ok = false;
        const uint uid = qEnvironmentVariable(variable).toUInt(&ok);
        if (ok)
            return static_cast<uid_t>(uid);
    }
    return std::nullopt;
}

int install(uid_t user, const Options& options)
{
    if (!::getpwuid(user)) {
        options.say(QStringLiteral("No user with the id %1").arg(user));
        return 1;
    }
    try {
        AtomicFile::write(options.unitDirectory + QLatin1Char('/') + unitTemplate,
                          unitFileText(options.helperExecutable).toUtf8());
        systemctl(options, {QStringLiteral("daemon-reload")});
        systemctl(options, {QStringLiteral("enable"), QStringLiteral("--now"), unitName(user)});
    } catch (const std::exception& error) {
        options.say(
            QStringLiteral("The privileged mode was not installed: %1").arg(QString::fromUtf8(error.what())));
        return 1;
    }
    options.say(
        QStringLiteral("Installed %1: TUN mode is available to user %2.").arg(unitName(user)).arg(user));
    return 0;
}

int uninstall(uid_t user, const Options& options)
{
    try {
        systemctl(options, {QStringLiteral("disable"), QStringLiteral("--now"), unitName(user)});
        // The template goes with the last user that had it.
        const QDir wants(options.unitDirectory + QStringLiteral("/multi-user.target.wants"));
        if (wants
                .entryList({QStringLiteral("tarnwick-helper-privileged@*.service")},
                           QDir::AllEntries | QDir::System)
                .isEmpty()) {
            QFile::remove(options.unitDirectory + QLatin1Char('/') + unitTemplate);
            systemctl(options, {QStringLiteral("daemon-reload")});
        }
    } catch (const std::exception& error) {
        options.say(
            QStringLiteral("The privileged mode was not removed: %1").arg(QString::fromUtf8(error.what())));
        return 1;
    }
    options.say(QStringLiteral("Removed %1.").arg(unitName(user)));
    return 0;
}

} // namespace tarnwick::PrivilegedService
