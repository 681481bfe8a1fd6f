#include "LoginItem.h"

#include "Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace tarnwick {

LoginItem::LoginItem(QString directory, QString executable)
    : m_directory(std::move(directory)),
      m_executable(executable.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(executable))
{}

QString LoginItem::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString LoginItem::filePath() const
{
    return m_directory + QStringLiteral("/tarnwick.desktop");
}

bool LoginItem::isEnabled() const
{
    if (!QFile::exists(filePath()))
        return false;
    QSettings entry(filePath(), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    return entry.value(QStringLiteral("Hidden")).toString() != QLatin1String("true") &&
           entry.value(QStringLiteral("X-GNOME-Autostart-enabled")).toString() != QLatin1String("false");
}

void LoginItem::setEnabled(bool enabled) const
{
    if (!enabled) {
        if (QFile::exists(filePath()) && !QFile::remove(filePath()))
            throw Error(QStringLiteral("Could not remove %1.").arg(filePath()));
        return;
    }
    if (!QDir().mkpath(m_directory))
        throw Error(QStringLiteral("Could not create %1.").arg(m_directory));
    // The Exec key quotes the path when it holds a blank; the desktop entry format escapes '"', '\', '$' and
    // '`'.
    QString quoted = m_executable;
    for (const QChar special : {u'\\', u'"', u'$', u'`'})
        quoted.replace(special, QStringLiteral("\\") + special);
    const QString exec = m_executable.contains(u' ') ? QLatin1Char('"') + quoted + QLatin1Char('"') : quoted;
    const QString text =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Tarnwick\n"
                       "Comment=Runs and controls the Mihomo proxy kernel from the system tray\n"
                       "Exec=%1\n"
                       "Icon=network-vpn\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(exec);
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw Error(QStringLiteral("Could not write %1: %2").arg(filePath(), file.errorString()));
}

} // namespace tarnwick
