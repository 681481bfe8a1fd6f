#include "KernelLaunchPolicy.h"

#include "HelperError.h"
#include "config/KernelCommand.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>

namespace tarnwick::KernelLaunchPolicy {

namespace {

const QString kCurrent = QStringLiteral("core/current");

// The workspace root (ending in '/') that the executable path names, or nothing.
QString workspaceOf(const QString& executable)
{
    if (!QDir::isAbsolutePath(executable) || QDir::cleanPath(executable) != executable)
        return {};
    if (executable.endsWith(QLatin1Char('/') + kCurrent))
        return executable.chopped(kCurrent.size());
    static const QRegularExpression versioned(QStringLiteral("^(/.*/|/)core/versions/([^/]+)/mihomo$"));
    const QRegularExpressionMatch match = versioned.match(executable);
    if (!match.hasMatch() || match.captured(2) == QLatin1String("..") ||
        match.captured(2) == QLatin1String("."))
        return {};
    return match.captured(1);
}

QString realPath(const QString& path)
{
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(path).constData(), resolved) == nullptr)
        return {};
    return QFile::decodeName(resolved);
}

// A directory of the user's, reached without following a link at its last step.
void checkUsersDirectory(const QString& path, const QString& what, uid_t user)
{
    struct stat info
    {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        throw HelperError(QStringLiteral("Cannot use the %1 %2: %3").arg(what, path, qt_error_string(errno)));
    if (!S_ISDIR(info.st_mode))
        throw HelperError(QStringLiteral("The %1 %2 is not a directory").arg(what, path));
    if (info.st_uid != user)
        throw HelperError(QStringLiteral("The %1 %2 belongs to uid %3, not uid %4")
                              .arg(what, path)
                              .arg(info.st_uid)
                              .arg(user));
}

void checkExecutable(const QString& executable, const QString& workspace, uid_t user)
{
    const QString resolved = realPath(executable);
    const QString core = realPath(workspace + QStringLiteral("core"));
    if (resolved.isEmpty() || core.isEmpty())
        throw HelperError(QStringLiteral("Cannot use the kernel executable %1: %2")
                              .arg(executable, qt_error_string(errno)));
    if (!resolved.startsWith(core + QLatin1Char('/')))
        throw HelperError(QStringLiteral("The kernel executable %1 leads outside the workspace, to %2")
                              .arg(executable, resolved));
    struct stat info
    {};
    if (::stat(QFile::encodeName(resolved).constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (info.st_mode & S_IXUSR) == 0)
        throw HelperError(
            QStringLiteral("The kernel executable %1 is not an executable file").arg(executable));
    // A group-writable file is fine in the user's own (private) group, as a umask of 002 leaves it.
    const passwd* account = ::getpwuid(user);
    const bool othersMayWrite =
        (info.st_mode & S_IWOTH) != 0 ||
        ((info.st_mode & S_IWGRP) != 0 && (!account || info.st_gid != account->pw_gid));
    if ((info.st_uid != user && info.st_uid != 0) || othersMayWrite)
        throw HelperError(
            QStringLiteral("The kernel executable %1 can be changed by another user").arg(executable));
}

bool isControllerAddress(const QString& address)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]*):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(address);
    if (!match.hasMatch())
        return false;
    const int port = match.captured(2).toInt();
    return port >= 1 && port <= 65535;
}

void checkArguments(const QStringList& arguments, const QString& workspace)
{
    const QString work = workspace + QStringLiteral("work");
    const QString config = workspace + QStringLiteral("work/config.json");
    const bool expected = arguments.size() == 6 && arguments[0] == QLatin1String("-d") &&
                          QDir::cleanPath(arguments[1]) == work && arguments[2] == QLatin1String("-f") &&
                          QDir::cleanPath(arguments[3]) == config &&
                          arguments[4] == QLatin1String("-ext-ctl") && isControllerAddress(arguments[5]);
    // Never quoted back: a refused command line may hold a secret.
    if (!expected)
        throw HelperError(
            QStringLiteral("Refused kernel arguments: expected \"-d %1 -f %2 -ext-ctl HOST:PORT\"")
                .arg(work, config));
}

} // namespace

void check(const QString& executable, const QStringList& arguments, const QString& logFile, uid_t user)
{
    const QString workspace = workspaceOf(executable);
    if (workspace.isEmpty())
        throw HelperError(QStringLiteral("Refused kernel executable %1: only core/current or "
                                         "core/versions/<version>/mihomo of a workspace is started")
                              .arg(executable));
    checkUsersDirectory(workspace.chopped(1).isEmpty() ? QStringLiteral("/") : workspace.chopped(1),
                        QStringLiteral("workspace"), user);
    checkExecutable(executable, workspace, user);
    checkArguments(arguments, workspace);
    const QString log = workspace + QStringLiteral("logs/core.log");
    if (QDir::cleanPath(logFile) != log)
        throw HelperError(
            QStringLiteral("Refused kernel log %1: the kernel logs only to %2").arg(logFile, log));
    checkUsersDirectory(workspace + QStringLiteral("logs"), QStringLiteral("log directory"), user);
}

QStringList environment(const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isObject())
        throw HelperError(QStringLiteral("Invalid startKernel request"));
    QStringList entries;
    const QJsonObject variables = value.toObject();
    for (auto it = variables.begin(); it != variables.end(); ++it) {
        if (it.key() != KernelCommand::secretVariable)
            throw HelperError(QStringLiteral("Environment variable not allowed: ") + it.key());
        if (!it.value().isString() || it.value().toString().contains(QChar(0)))
            throw HelperError(QStringLiteral("Invalid startKernel request"));
        entries.append(it.key() + QLatin1Char('=') + it.value().toString());
    }
    return entries;
}

} // namespace tarnwick::KernelLaunchPolicy
