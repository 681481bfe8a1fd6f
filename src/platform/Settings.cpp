#include "Settings.h"

#include "Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

// The file holds the controller secret: only its user may read it. An existing file is tightened; a missing
// one is created 0600 before anything is written, since each save keeps the mode of the file it replaces.
void keepPrivate(const QString& filePath, bool create)
{
    const QByteArray path = QFile::encodeName(filePath);
    struct stat info
    {};
    if (::stat(path.constData(), &info) == 0) {
        if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), info.st_mode & 0700) != 0)
            qCWarning(lcSettings, "Cannot make %s private: %s", path.constData(), std::strerror(errno));
        return;
    }
    if (!create || !QDir().mkpath(QFileInfo(filePath).path()))
        return;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

Settings::Settings(const QString& filePath, QObject* parent)
    : QObject(parent), m_store(filePath, QSettings::IniFormat)
{
    keepPrivate(filePath, false);
    if (m_store.status() != QSettings::NoError)
        qCWarning(lcSettings, "Settings file %s could not be read; every setting takes its default",
                  qUtf8Printable(filePath));
}

QString Settings::defaultFilePath()
{
    const QString overridden = qEnvironmentVariable("TARNWICK_SETTINGS");
    if (!overridden.isEmpty())
        return overridden;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tarnwick/settings.ini");
}

QString Settings::filePath() const
{
    return m_store.fileName();
}

bool Settings::contains(const QString& key) const
{
    m_store.sync();
    return m_store.contains(key);
}

std::optional<QString> Settings::raw(const QString& key) const
{
    m_store.sync();
    if (!m_store.contains(key))
        return std::nullopt;
    const QVariant value = m_store.value(key);
    // An unquoted value with commas in a hand-edited INI file reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void Settings::warnWrongType(const QString& key, const QString& value, const char* type) const
{
    qCWarning(lcSettings, "Setting \"%s\" holds \"%s\", which is not %s; its default is used",
              qUtf8Printable(key), qUtf8Printable(value), type);
}

std::optional<bool> Settings::boolean(const QString& key) const
{
    const auto value = raw(key);
    if (!value)
        return std::nullopt;
    const QString lowered = value->trimmed().toLower();
    if (lowered == QLatin1String("true") || lowered == QLatin1String("1"))
        return true;
    if (lowered == QLatin1String("false") || lowered == QLatin1String("0"))
        return false;
    warnWrongType(key, *value, "a boolean");
    return std::nullopt;
}

std::optional<qint64> Settings::integer(const QString& key) const
{
    const auto value = raw(key);
    if (!value)
        return std::nullopt;
    bool ok = false;
    const qint64 number = value->trimmed().toLongLong(&ok);
    if (ok)
        return number;
    warnWrongType(key, *value, "an integer");
    return std::nullopt;
}

std::optional<QString> Settings::text(const QString& key) const
{
    return raw(key);
}

std::optional<QDateTime> Settings::date(const QString& key) const
{
    const auto value = raw(key);
    if (!value)
        return std::nullopt;
    const QDateTime parsed = QDateTime::fromString(value->trimmed(), Qt::ISODateWithMs);
    if (parsed.isValid())
        return parsed;
    warnWrongType(key, *value, "a date");
    return std::nullopt;
}

void Settings::write(const QString& key, const QVariant& value)
{
    keepPrivate(m_store.fileName(), true);
    m_store.setValue(key, value);
    m_store.sync();
    if (m_store.status() != QSettings::NoError)
        qCWarning(lcSettings, "Setting \"%s\" could not be saved to %s", qUtf8Printable(key),
                  qUtf8Printable(m_store.fileName()));
    Q_EMIT changed(key);
}

void Settings::setBoolean(const QString& key, bool value)
{
    write(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void Settings::setInteger(const QString& key, qint64 value)
{
    write(key, QString::number(value));
}

void Settings::setText(const QString& key, const QString& value)
{
    write(key, value);
}

void Settings::setDate(const QString& key, const QDateTime& value)
{
    write(key, value.toUTC().toString(Qt::ISODateWithMs));
}

void Settings::remove(const QString& key)
{
    m_store.remove(key);
    m_store.sync();
    Q_EMIT changed(key);
}

} // namespace tarnwick
