#include "GnomeProxySettings.h"

#include "ToolProcess.h"

#include <QJsonObject>
#include <QStandardPaths>

namespace tarnwick {

namespace {

QString childSchema(DesktopProxySettings::Part part)
{
    switch (part) {
    case DesktopProxySettings::Part::web:
        return GnomeProxySettings::schema + QStringLiteral(".http");
    case DesktopProxySettings::Part::secureWeb:
        return GnomeProxySettings::schema + QStringLiteral(".https");
    case DesktopProxySettings::Part::socks:
        return GnomeProxySettings::schema + QStringLiteral(".socks");
    default:
        return GnomeProxySettings::schema;
    }
}

const QString kMode = QStringLiteral("mode");
const QString kIgnoreHosts = QStringLiteral("ignore-hosts");
const QString kHost = QStringLiteral("host");
const QString kPort = QStringLiteral("port");

} // namespace

std::unique_ptr<GnomeProxySettings> GnomeProxySettings::find()
{
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty())
        return nullptr;
    const QStringList arguments{QStringLiteral("list-keys"), schema};
    if (!ToolProcess::run(gsettings, arguments).succeeded())
        return nullptr;
    return std::make_unique<GnomeProxySettings>(gsettings);
}

QString GnomeProxySettings::quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString GnomeProxySettings::get(const QString& schemaName, const QString& key) const
{
    const QStringList arguments{QStringLiteral("get"), schemaName, key};
    return QString::fromUtf8(ToolProcess::check(m_gsettings, arguments)).trimmed();
}

void GnomeProxySettings::set(const QString& schemaName, const QString& key, const QString& value) const
{
    const QStringList arguments{QStringLiteral("set"), schemaName, key, value};
    ToolProcess::check(m_gsettings, arguments);
}

QJsonValue GnomeProxySettings::read(Part part)
{
    switch (part) {
    case Part::mode:
        return get(schema, kMode);
    case Part::bypass:
        return get(schema, kIgnoreHosts);
    default:
        return QJsonObject{{kHost, get(childSchema(part), kHost)}, {kPort, get(childSchema(part), kPort)}};
    }
}

void GnomeProxySettings::write(Part part, const QJsonValue& value)
{
    switch (part) {
    case Part::mode:
        set(schema, kMode, value.toString());
        return;
    case Part::bypass:
        set(schema, kIgnoreHosts, value.toString());
        return;
    default:
        set(childSchema(part), kHost, value[kHost].toString());
        set(childSchema(part), kPort, value[kPort].toString());
    }
}

QJsonValue GnomeProxySettings::proxyValue(Part, const QString& host, int port) const
{
    return QJsonObject{{kHost, quoted(host)}, {kPort, QString::number(port)}};
}

QJsonValue GnomeProxySettings::manualMode() const
{
    return quoted(QStringLiteral("manual"));
}

QJsonValue GnomeProxySettings::bypassValue(const QStringList& domains) const
{
    QStringList items;
    for (const QString& domain : domains)
        items.append(quoted(domain));
    // An empty array needs its type spelled out.
    return items.isEmpty() ? QStringLiteral("@as []")
                           : QLatin1Char('[') + items.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace tarnwick
