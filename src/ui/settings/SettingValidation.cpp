#include "SettingValidation.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QUrl>

namespace tarnwick::SettingValidation {

namespace {

QStringList entries(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\r\\n]"));
    QStringList list;
    for (const QString& entry : text.split(separators)) {
        if (const QString trimmed = entry.trimmed(); !trimmed.isEmpty())
            list.append(trimmed);
    }
    return list;
}

std::optional<qint64> number(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,12}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    return text.toLongLong();
}

bool isPort(const QString& text)
{
    const std::optional<qint64> value = number(text);
    return value && *value >= 1 && *value <= 65535;
}

bool isIpRange(const QString& text)
{
    if (!text.contains(u'/'))
        return false;
    const std::pair<QHostAddress, int> subnet = QHostAddress::parseSubnet(text);
    return !subnet.first.isNull() && subnet.second >= 0;
}

// "host:port" or "[v6]:port"; the host a name or an address.
bool isHostPort(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[^\\s:/\\[\\]]+):([0-9]+)$"));
    const QRegularExpressionMatch match = form.match(text);
    return match.hasMatch() && isPort(match.captured(2));
}

QStringList lines(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("\\r\\n|\\r|\\n")));
}

// Checks every line of a "key = value" text; `value` checks the right-hand side.
QString mappingLines(const QString& text, const QString& example,
                     const std::function<QString(const QString&)>& value)
{
    const QStringList all = lines(text);
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QString line = all[i].trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString left = equals < 0 ? QString() : line.left(equals).trimmed();
        const QString right = equals < 0 ? QString() : line.mid(equals + 1).trimmed();
        if (left.isEmpty() || right.isEmpty())
            return QStringLiteral("Line %1: write it as %2.").arg(i + 1).arg(example);
        if (const QString problem = value(right); !problem.isEmpty())
            return QStringLiteral("Line %1: %2").arg(i + 1).arg(problem);
    }
    return {};
}

QString nameserver(const QString& entry)
{
    static const QStringList schemes = {
        QStringLiteral("udp"),  QStringLiteral("tcp"),  QStringLiteral("tls"),    QStringLiteral("https"),
        QStringLiteral("quic"), QStringLiteral("dhcp"), QStringLiteral("system"), QStringLiteral("rcode")};
    const QString wrong =
        QStringLiteral("\"%1\" is not a DNS server: give an address such as 223.5.5.5 or a URL such as "
                       "https://dns.example/dns-query.")
            .arg(entry);
    if (entry == QLatin1String("system"))
        return {};
    const qsizetype schemeEnd = entry.indexOf(QLatin1String("://"));
    if (schemeEnd < 0) {
        static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*$"));
        if (!QHostAddress(entry).isNull() || isHostPort(entry) || hostName.match(entry).hasMatch())
            return {};
        return wrong;
    }
    const QUrl url(entry, QUrl::StrictMode);
    if (!schemes.contains(entry.left(schemeEnd)) || !url.isValid())
        return wrong;
    if (url.host().isEmpty() && url.scheme() != QLatin1String("system") &&
        url.scheme() != QLatin1String("dhcp"))
        return wrong;
    return {};
}

} // namespace

QString port(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("0") || isPort(trimmed))
        return {};
    return QStringLiteral("Enter a port from 1 to 65535, or 0 to close it.");
}

Validator wholeNumber(qint64 min, qint64 max)
{
    return [min, max](const QString& text) {
        const QString trimmed = text.trimmed();
        const std::optional<qint64> value = trimmed.isEmpty() ? std::optional<qint64>(0) : number(trimmed);
        if (value && *value >= min && *value <= max)
            return QString();
        return QStringLiteral("Enter a whole number from %1 to %2.").arg(min).arg(max);
    };
}

QString ipRanges(const QString& text)
{
    for (const QString& entry : entries(text)) {
        if (!isIpRange(entry))
            return QStringLiteral("\"%1\" is not an IP range such as 192.168.0.0/16 or fc00::/7.").arg(entry);
    }
    return {};
}

QString ipRange(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!isIpRange(trimmed))
        return QStringLiteral("\"%1\" is not an IP range such as 198.18.0.1/16.").arg(trimmed);
    return {};
}

QString portList(const QString& text)
{
    for (const QString& entry : entries(text)) {
        const qsizetype dash = entry.indexOf(u'-');
        const bool fine =
            dash < 0 ? isPort(entry)
                     : isPort(entry.left(dash).trimmed()) && isPort(entry.mid(dash + 1).trimmed()) &&
                           entry.left(dash).trimmed().toInt() <= entry.mid(dash + 1).trimmed().toInt();
        if (!fine)
            return QStringLiteral("\"%1\" is not a port or a range of ports such as 8080-8880.").arg(entry);
    }
    return {};
}

QString credentials(const QString& text)
{
    for (const QString& entry : entries(text)) {
        const qsizetype colon = entry.indexOf(u':');
        if (colon <= 0 || colon == entry.size() - 1)
            return QStringLiteral("\"%1\" is not a user name, a colon and a password.").arg(entry);
    }
    return {};
}

QString nameservers(const QString& text)
{
    for (const QString& entry : entries(text)) {
        if (const QString problem = nameserver(entry); !problem.isEmpty())
            return problem;
    }
    return {};
}

QString nameserverPolicy(const QString& text)
{
    return mappingLines(text,
                        QStringLiteral("a pattern, \"=\" and one or more servers, such as "
                                       "geosite:cn = 223.5.5.5"),
                        [](const QString& servers) { return nameservers(servers); });
}

QString hosts(const QString& text)
{
    return mappingLines(text,
                        QStringLiteral("a domain, \"=\" and an address, such as router.lan = 192.168.1.1"),
                        [](const QString&) { return QString(); });
}

QString listenAddress(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || isHostPort(trimmed))
        return {};
    return QStringLiteral("Enter an address and a port, such as 127.0.0.1:1053.");
}

QString bindAddress(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("*") || !QHostAddress(trimmed).isNull())
        return {};
    return QStringLiteral("Enter * for every address, or one IP address.");
}

QString dnsHijack(const QString& text)
{
    static const QRegularExpression scheme(QStringLiteral("^(tcp|udp)://"));
    for (const QString& entry : entries(text)) {
        if (!isHostPort(QString(entry).remove(scheme)))
            return QStringLiteral("\"%1\" is not an address and port such as any:53 or tcp://any:53.")
                .arg(entry);
    }
    return {};
}

Validator webAddress(bool optional)
{
    return [optional](const QString& text) {
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty() && optional)
            return QString();
        const QUrl url(trimmed, QUrl::StrictMode);
        if (url.isValid() && !url.host().isEmpty() &&
            (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")))
            return QString();
        return QStringLiteral("Enter an http or https address.");
    };
}

QString interfaceName(const QString& text)
{
    static const QRegularExpression name(QStringLiteral("^[^\\s/]{0,15}$"));
    if (name.match(text.trimmed()).hasMatch())
        return {};
    return QStringLiteral("An interface name has at most 15 characters, no blanks and no \"/\".");
}

QString wifiNames(const QString& text)
{
    QSet<QString> seen;
    for (const QString& entry : entries(text)) {
        if (seen.contains(entry))
            return QStringLiteral("\"%1\" is in the list twice.").arg(entry);
        seen.insert(entry);
    }
    return {};
}

Validator forKey(const QString& key)
{
    static const QHash<QString, Validator> checks = [] {
        QHash<QString, Validator> all;
        for (const char* portKey : {"mixedPort", "httpPort", "socksPort", "redirPort", "tproxyPort"})
            all.insert(QLatin1String(portKey), port);
        for (const char* rangeKey : {"lanAllowedIPs", "lanDisallowedIPs", "skipAuthPrefixes",
                                     "snifferSkipSrcAddress", "snifferSkipDstAddress",
                                     "dnsFallbackFilterIPCIDR", "tunRouteAddress", "tunRouteExcludeAddress"})
            all.insert(QLatin1String(rangeKey), ipRanges);
        for (const char* portsKey : {"snifferSniffTlsPorts", "snifferSniffHttpPorts", "snifferSniffQuicPorts",
                                     "tunExcludeSrcPort", "tunExcludeDstPort"})
            all.insert(QLatin1String(portsKey), portList);
        for (const char* serversKey : {"dnsDefaultNameserver", "dnsNameservers", "dnsFallback",
                                       "dnsProxyServerNameserver", "dnsDirectNameserver"})
            all.insert(QLatin1String(serversKey), nameservers);
        for (const char* policyKey : {"dnsNameserverPolicy", "dnsProxyServerNameserverPolicy"})
            all.insert(QLatin1String(policyKey), nameserverPolicy);
        for (const char* urlKey : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
            all.insert(QLatin1String(urlKey), webAddress(false));
        all.insert(QStringLiteral("externalUIUrl"), webAddress(true));
        all.insert(QStringLiteral("authentication"), credentials);
        all.insert(QStringLiteral("dnsCustomHosts"), hosts);
        all.insert(QStringLiteral("dnsListen"), listenAddress);
        all.insert(QStringLiteral("bindAddress"), bindAddress);
        all.insert(QStringLiteral("tunDnsHijack"), dnsHijack);
        all.insert(QStringLiteral("dnsFakeIpRange"), ipRange);
        all.insert(QStringLiteral("dnsFakeIpRange6"), ipRange);
        all.insert(QStringLiteral("interfaceName"), interfaceName);
        all.insert(QStringLiteral("tunDevice"), interfaceName);
        all.insert(QStringLiteral("tunMtu"), wholeNumber(0, 65535));
        all.insert(QStringLiteral("keepAliveInterval"), wholeNumber(0, 86400));
        all.insert(QStringLiteral("keepAliveIdle"), wholeNumber(0, 86400));
        all.insert(QStringLiteral("geoUpdateInterval"), wholeNumber(0, 8760));
        all.insert(QStringLiteral("dnsIPv6Timeout"), wholeNumber(0, 60000));
        all.insert(QStringLiteral("dnsCacheMaxSize"), wholeNumber(0, 1000000));
        all.insert(QStringLiteral("dnsFakeIpTTL"), wholeNumber(0, 86400));
        all.insert(QStringLiteral("udpTimeout"), wholeNumber(0, 86400));
        return all;
    }();
    return checks.value(key, [](const QString&) { return QString(); });
}

} // namespace tarnwick::SettingValidation
