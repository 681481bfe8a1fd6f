#include "HelperSocketPath.h"

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

} // namespace tarnwick::HelperSocketPath
