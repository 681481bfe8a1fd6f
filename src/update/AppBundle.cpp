#include "AppBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace tarnwick {

AppBundle::AppBundle(QString path) : m_path(QDir::cleanPath(std::move(path))) {}

AppBundle AppBundle::running()
{
    return AppBundle(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
}

bool AppBundle::isBundle(const QString& directory)
{
    const QFileInfo info(directory);
    return info.isDir() && !info.isSymLink() &&
           QFileInfo(directory + QLatin1Char('/') + executableName).isExecutable();
}

QString AppBundle::shortVersion() const
{
    const QSettings info(m_path + QLatin1Char('/') + infoFile, QSettings::IniFormat);
    const QString version = info.value(QStringLiteral("ShortVersion")).toString();
    return version.isEmpty() ? QStringLiteral(TARNWICK_VERSION) : version;
}

qint64 AppBundle::build() const
{
    const QSettings info(m_path + QLatin1Char('/') + infoFile, QSettings::IniFormat);
    return info.value(QStringLiteral("Build")).toString().toLongLong();
}

bool AppBundle::isInApplicationsFolder(const QString& homeDirectory) const
{
    const QString path = QFileInfo(m_path).absoluteFilePath() + QLatin1Char('/');
    return path.startsWith(QStringLiteral("/opt/")) ||
           path.startsWith(QDir::cleanPath(homeDirectory) + QStringLiteral("/Applications/"));
}

} // namespace tarnwick
