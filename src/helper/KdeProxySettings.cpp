#include "KdeProxySettings.h"

#include "HelperError.h"
#include "ToolProcess.h"
#include "config/AtomicFile.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace tarnwick {

namespace {

QString keyOf(DesktopProxySettings::Part part)
{
    switch (part) {
    case DesktopProxySettings::Part::mode:
        return QStringLiteral("ProxyType");
    case DesktopProxySettings::Part::web:
        return QStringLiteral("httpProxy");
    case DesktopProxySettings::Part::secureWeb:
        return QStringLiteral("httpsProxy");
    case DesktopProxySettings::Part::socks:
        return QStringLiteral("socksProxy");
    case DesktopProxySettings::Part::bypass:
        return QStringLiteral("NoProxyFor");
    }
    Q_UNREACHABLE();
}

bool isGroupHeader(const QByteArray& line)
{
    return line.trimmed().startsWith('[');
}

bool isOurGroup(const QByteArray& line)
{
    return line.trimmed() == QByteArray("[" + KdeProxySettings::group.toUtf8() + "]");
}

// The key of an entry line ("key=value", "key[$e]=value"), or empty.
QByteArray keyOfLine(const QByteArray& line)
{
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0 || line.trimmed().startsWith('#'))
        return {};
    QByteArray key = line.left(equals).trimmed();
    const qsizetype bracket = key.indexOf('[');
    return bracket > 0 ? key.left(bracket) : key;
}

} // namespace

QString KdeProxySettings::defaultPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/kioslaverc");
}

std::unique_ptr<KdeProxySettings> KdeProxySettings::find()
{
    const QString path = defaultPath();
    if (QFile::exists(path) || qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE")))
        return std::make_unique<KdeProxySettings>(path);
    return nullptr;
}

std::optional<QString> KdeProxySettings::entry(const QByteArray& file, const QString& key)
{
    bool inGroup = false;
    std::optional<QString> value;
    for (const QByteArray& line : file.split('\n')) {
        if (isGroupHeader(line))
            inGroup = isOurGroup(line);
        else if (inGroup && keyOfLine(line) == key.toUtf8())
            value = QString::fromUtf8(line.mid(line.indexOf('=') + 1));
    }
    return value;
}

QByteArray KdeProxySettings::withEntry(const QByteArray& file, const QString& key,
                                       const std::optional<QString>& value)
{
    QList<QByteArray> lines = file.isEmpty() ? QList<QByteArray>{} : file.split('\n');
    const bool endsWithNewline = lines.isEmpty() || lines.last().isEmpty();
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const QByteArray newLine = value ? key.toUtf8() + '=' + value->toUtf8() : QByteArray();
    qsizetype groupEnd = -1;
    bool inGroup = false;
    bool done = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isGroupHeader(lines.at(i))) {
            inGroup = isOurGroup(lines.at(i));
            if (inGroup)
                groupEnd = i + 1;
            continue;
        }
        if (!inGroup)
            continue;
        if (keyOfLine(lines.at(i)) == key.toUtf8()) {
            if (value && !done) {
                lines[i] = newLine;
                done = true;
            } else {
                lines.removeAt(i--);
                continue;
            }
        }
        if (!lines.at(i).trimmed().isEmpty())
            groupEnd = i + 1;
    }
    if (value && !done) {
        if (groupEnd < 0) {
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
                lines.append(QByteArray());
            lines.append("[" + group.toUtf8() + "]");
            groupEnd = lines.size();
        }
        lines.insert(groupEnd, newLine);
    }
    QByteArray result = lines.join('\n');
    if (endsWithNewline)
        result.append('\n');
    return result;
}

QJsonValue KdeProxySettings::read(Part part)
{
    QFile file(m_path);
    if (!file.exists())
        return QJsonValue::Null;
    if (!file.open(QIODevice::ReadOnly))
        throw HelperError(QStringLiteral("Cannot read %1: %2").arg(m_path, file.errorString()));
    const std::optional<QString> value = entry(file.readAll(), keyOf(part));
    return value ? QJsonValue(*value) : QJsonValue::Null;
}

void KdeProxySettings::write(Part part, const QJsonValue& value)
{
    set(keyOf(part), value.isString() ? std::optional<QString>(value.toString()) : std::nullopt);
}

void KdeProxySettings::set(const QString& key, const std::optional<QString>& value)
{
    QByteArray contents;
    QFile file(m_path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw HelperError(QStringLiteral("Cannot read %1: %2").arg(m_path, file.errorString()));
        contents = file.readAll();
        file.close();
    }
    const QByteArray changed = withEntry(contents, key, value);
    if (changed == contents)
        return;
    try {
        AtomicFile::write(m_path, changed);
    } catch (const FileError& error) {
        throw HelperError(error.description());
    }
}

QJsonValue KdeProxySettings::proxyValue(Part part, const QString& host, int port) const
{
    const QString scheme = part == Part::socks ? QStringLiteral("socks") : QStringLiteral("http");
    return QStringLiteral("%1://%2 %3").arg(scheme, host).arg(port);
}

QJsonValue KdeProxySettings::manualMode() const
{
    // KDE's manual proxy type.
    return QStringLiteral("1");
}

QJsonValue KdeProxySettings::bypassValue(const QStringList& domains) const
{
    return domains.join(QLatin1Char(','));
}

void KdeProxySettings::announce()
{
    // What KDE's own proxy settings page sends; without a session bus there is no one to tell.
    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (dbusSend.isEmpty() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QStringList arguments{
        QStringLiteral("--session"), QStringLiteral("--type=signal"), QStringLiteral("/KIO/Scheduler"),
        QStringLiteral("org.kde.KIO.Scheduler.reparseSlaveConfiguration"), QStringLiteral("string:")};
    const ToolProcess::Result result = ToolProcess::run(dbusSend, arguments);
    if (!result.succeeded())
        qCInfo(lcHelper, "KDE programs not told of the proxy change: %s", result.errors.constData());
}

} // namespace tarnwick
