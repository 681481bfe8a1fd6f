#include "ClashPaths.h"

#include "WorkspaceError.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tarnwick {

namespace {

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// mkdir -p with the system's reason on failure; QDir::mkpath only says "false".
void makeDirectory(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return;
    const QString parent = QFileInfo(QDir::cleanPath(path)).path();
    if (parent != path && !QFileInfo(parent).isDir())
        makeDirectory(parent);
    if (::mkdir(QFile::encodeName(QDir::cleanPath(path)).constData(), 0755) != 0 && errno != EEXIST)
        throw WorkspaceError(QStringLiteral("Could not create the directory %1: %2")
                                 .arg(QDir::cleanPath(path), QString::fromLocal8Bit(std::strerror(errno))));
    if (!QFileInfo(path).isDir())
        throw WorkspaceError(QStringLiteral("Could not create the directory %1: a file is in the way")
                                 .arg(QDir::cleanPath(path)));
}

} // namespace

ClashPaths::ClashPaths() : m_root(withSlash(resolveDefaultRoot())) {}

ClashPaths::ClashPaths(const QString& baseDirectory)
    : m_root(withSlash(baseDirectory.isEmpty() ? resolveDefaultRoot() : baseDirectory))
{}

QString ClashPaths::resolveDefaultRoot()
{
    const QString overridden = qEnvironmentVariable("TARNWICK_WORKSPACE");
    if (!overridden.isEmpty())
        return overridden;

    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString legacy = base + QStringLiteral("/tarnwick");
    const QString current = base + QStringLiteral("/Tarnwick");
    if (QFileInfo::exists(legacy) || QFileInfo(legacy).isSymLink()) {
        // A failed move (for example both names already exist) leaves both where they are.
        if (!QDir().rename(legacy, current))
            qCDebug(lcWorkspace, "Legacy workspace %s was not moved to %s", qUtf8Printable(legacy),
                    qUtf8Printable(current));
    }
    return current;
}

void ClashPaths::prepare() const
{
    for (const QString& directory :
         {applicationSupportDirectory(), profilesDirectory(), workDirectory(), logsDirectory(),
          databaseDirectory(), coreDirectory(), versionsDirectory()})
        makeDirectory(directory);
}

void ClashPaths::seedDefaultProfileIfNeeded(const QString& resourcePath) const
{
    const QString target = profilesDirectory() + QStringLiteral("Default.yaml");
    if (QFileInfo::exists(target) || !QFileInfo::exists(resourcePath))
        return;
    QFile source(resourcePath);
    if (!source.copy(target))
        throw WorkspaceError(
            QStringLiteral("Could not copy the default profile to %1: %2").arg(target, source.errorString()));
    // Resources may be read-only; the user's copy must be editable.
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

} // namespace tarnwick
