#include "HelperSocketPath.h"

#include "UnixSocket.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::HelperSocketPath {

QString defaultPath()
{
    const QString overridden = qEnvironmentVariable("TARNWICK_HELPER_SOCKET");
    if (!overridden.isEmpty())
        return overridden;
    const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDirectory.isEmpty())
        return QDir::cleanPath(runtimeDirectory + QStringLiteral("/tarnwick/helper.sock"));
    return QStringLiteral("/tmp/tarnwick-%1/helper.sock").arg(::getuid());
}

QString privilegedPath(unsigned int uid)
{
    return QStringLiteral("%1/%2/helper.sock").arg(privilegedRoot).arg(uid);
}

bool createPrivateDirectory(const QString& directory)
{
    if (QFileInfo(directory).isDir())
        return true;
    const QString parent = QFileInfo(directory).path();
    if (!QFileInfo(parent).isDir() && !QDir().mkpath(parent))
        return false;
    const QByteArray path = QFile::encodeName(directory);
    if (::mkdir(path.constData(), 0700) != 0)
        return QFileInfo(directory).isDir(); // created by someone else meanwhile: theirs to judge
    // mkdir applies the umask, so the mode is set again explicitly.
    return ::chmod(path.constData(), 0700) == 0;
}

std::optional<QString> distrust(const QString& directory)
{
    struct stat info
    {};
    if (::lstat(QFile::encodeName(directory).constData(), &info) != 0)
        return std::nullopt;
    const QString rule = QStringLiteral("; it must be a directory of yours with mode 0700");
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("The helper socket directory %1 is not a directory").arg(directory) + rule;
    if (info.st_uid != ::geteuid())
        return QStringLiteral("The helper socket directory %1 belongs to uid %2")
                   .arg(directory)
                   .arg(info.st_uid) +
               rule;
    if ((info.st_mode & 07777) != 0700)
        return QStringLiteral("The helper socket directory %1 has mode 0%2")
                   .arg(directory)
                   .arg(info.st_mode & 07777, 3, 8, QLatin1Char('0')) +
               rule;
    return std::nullopt;
}

std::optional<QString> distrustPeer(int fd, const QString& socketPath)
{
    const std::optional<PeerCredentials> peer = peerCredentials(fd);
    if (!peer)
        return QStringLiteral("Cannot tell who listens on %1").arg(socketPath);
    if (peer->uid == ::geteuid() || peer->uid == 0)
        return std::nullopt;
    return QStringLiteral("The process listening on %1 runs as uid %2, neither yours nor root's")
        .arg(socketPath)
        .arg(peer->uid);
}

} // namespace tarnwick::HelperSocketPath
