#include "BundleInstaller.h"

#include "HelperError.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarnwick::BundleInstaller {

namespace {

const QString kExecutable = QStringLiteral("bin/tarnwick-app");

struct stat lstatOf(const QString& path)
{
    struct stat info
    {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        throw HelperError(QStringLiteral("Cannot use %1: %2").arg(path, qt_error_string(errno)));
    return info;
}

void checkOwnDirectory(const QString& path, uid_t user)
{
    const struct stat info = lstatOf(path);
    if (S_ISLNK(info.st_mode))
        throw HelperError(QStringLiteral("%1 is a symbolic link").arg(path));
    if (!S_ISDIR(info.st_mode))
        throw HelperError(QStringLiteral("%1 is not a directory").arg(path));
    if (info.st_uid != user)
        throw HelperError(
            QStringLiteral("%1 belongs to uid %2, not uid %3").arg(path).arg(info.st_uid).arg(user));
}

void checkBundle(const QString& path, uid_t user)
{
    checkOwnDirectory(path, user);
    checkOwnDirectory(path + QStringLiteral("/bin"), user);
    const struct stat executable = lstatOf(path + QLatin1Char('/') + kExecutable);
    if (!S_ISREG(executable.st_mode) || (executable.st_mode & S_IXUSR) == 0)
        throw HelperError(QStringLiteral("%1 is not an application bundle").arg(path));
}

// Copies the tree below `source` into the new directory `target`: directories and regular files only, all
// the user's, with their permission bits but never set-id ones.
void copyTree(const QString& source, const QString& target, uid_t user)
{
    const struct stat directory = lstatOf(source);
    if (::mkdir(QFile::encodeName(target).constData(), directory.st_mode & 0755) != 0)
        throw HelperError(QStringLiteral("Cannot create %1: %2").arg(target, qt_error_string(errno)));
    const QStringList entries =
        QDir(source).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString& name : entries) {
        const QString from = source + QLatin1Char('/') + name;
        const QString to = target + QLatin1Char('/') + name;
        const struct stat info = lstatOf(from);
        if (info.st_uid != user)
            throw HelperError(
                QStringLiteral("%1 belongs to uid %2, not uid %3").arg(from).arg(info.st_uid).arg(user));
        if (S_ISDIR(info.st_mode)) {
            copyTree(from, to, user);
        } else if (S_ISREG(info.st_mode)) {
            QFile file(from);
            if (!file.copy(to))
                throw HelperError(QStringLiteral("Cannot copy %1: %2").arg(from, file.errorString()));
            if (::chmod(QFile::encodeName(to).constData(), info.st_mode & 0755) != 0)
                throw HelperError(
                    QStringLiteral("Cannot set the mode of %1: %2").arg(to, qt_error_string(errno)));
        } else {
            throw HelperError(QStringLiteral("%1 is neither a directory nor a regular file").arg(from));
        }
    }
}

// Swaps two paths in one step where the file system can; otherwise moves the old one aside and the new one
// in, putting the old one back if the second rename fails.
void exchange(const QString& staged, const QString& target)
{
    const QByteArray from = QFile::encodeName(staged);
    const QByteArray to = QFile::encodeName(target);
#ifdef SYS_renameat2
    constexpr unsigned int renameExchange = 1u << 1;
    if (::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), renameExchange) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS)
        throw HelperError(QStringLiteral("Cannot replace %1: %2").arg(target, qt_error_string(errno)));
#endif
    const QByteArray aside = QFile::encodeName(staged + QStringLiteral(".old"));
    if (std::rename(to.constData(), aside.constData()) != 0)
        throw HelperError(QStringLiteral("Cannot replace %1: %2").arg(target, qt_error_string(errno)));
    if (std::rename(from.constData(), to.constData()) != 0) {
        const int error = errno;
        std::rename(aside.constData(), to.constData());
        throw HelperError(QStringLiteral("Cannot replace %1: %2").arg(target, qt_error_string(error)));
    }
    std::rename(aside.constData(), from.constData());
}

} // namespace

void install(const QString& sourcePath, const QString& targetPath, uid_t user)
{
    for (const QString& path : {sourcePath, targetPath}) {
        if (!path.startsWith(QLatin1Char('/')) || QDir::cleanPath(path) != path || path == QLatin1String("/"))
            throw HelperError(QStringLiteral("Not a clean absolute path: %1").arg(path));
    }
    if (targetPath.startsWith(sourcePath + QLatin1Char('/')) ||
        sourcePath.startsWith(targetPath + QLatin1Char('/')) || sourcePath == targetPath)
        throw HelperError(QStringLiteral("The new bundle and the installed one overlap"));
    checkBundle(sourcePath, user);
    checkBundle(targetPath, user);
    const QString parent = QFileInfo(targetPath).path();
    checkOwnDirectory(parent, user);

    const QString staged = parent + QStringLiteral("/.") + QFileInfo(targetPath).fileName() +
                           QStringLiteral(".update-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    try {
        copyTree(sourcePath, staged, user);
        checkBundle(staged, user);
        exchange(staged, targetPath);
    } catch (const HelperError&) {
        QDir(staged).removeRecursively();
        throw;
    }
    // `staged` now holds the old bundle.
    QDir(staged).removeRecursively();
    qCInfo(lcHelper, "Installed the application bundle %s over %s", qUtf8Printable(sourcePath),
           qUtf8Printable(targetPath));
}

} // namespace tarnwick::BundleInstaller
