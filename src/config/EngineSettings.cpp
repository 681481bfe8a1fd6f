#include "EngineSettings.h"

#include "platform/Settings.h"

#include <QRegularExpression>
#include <QStringList>

namespace tarnwick::EngineSettings {

namespace {

using C = Conversion;

const char* const kSnifferDefaultTlsPorts = "443, 8443";
const char* const kSnifferDefaultHttpPorts = "80, 8080-8880";

// clang-format off
const Setting kTable[] = {
    // General and Network
    {"mixedPort", C::Int, "7890", "mixed-port", "7890"},
    {"httpPort", C::Int, "7890", "port"},
    {"socksPort", C::Int, "7891", "socks-port"},
    {"redirPort", C::Int, "7892", "redir-port"},
    {"tproxyPort", C::Int, "0", "tproxy-port"},
    {"allowLan", C::Bool, "false", "allow-lan"},
    {"bindAddress", C::Opt, "*", "bind-address"},
    {"lanAllowedIPs", C::List, "0.0.0.0/0,::/0", "lan-allowed-ips"},
    {"lanDisallowedIPs", C::List, "", "lan-disallowed-ips"},
    {"authentication", C::List, "", "authentication"},
    {"skipAuthPrefixes", C::List, "", "skip-auth-prefixes", "127.0.0.1/8\n::1/128"},
    {"ipv6Enabled", C::Bool, "false", "ipv6"},
    {"inboundTfo", C::Bool, "false", "inbound-tfo"},
    {"inboundMptcp", C::Bool, "false", "inbound-mptcp"},
    {"logLevel", C::Text, "silent", "log-level"},
    {"tcpConcurrent", C::Bool, "true", "tcp-concurrent"},
    {"unifiedDelay", C::Bool, "true", "unified-delay"},
    {"interfaceName", C::Opt, "", "interface-name"},
    {"findProcessMode", C::Text, "always", "find-process-mode"},
    {"keepAliveInterval", C::Int, "15", "keep-alive-interval"},
    {"keepAliveIdle", C::Int, "15", "keep-alive-idle"},
    {"disableKeepAlive", C::Bool, "false", "disable-keep-alive"},
    {"quicGoDisableGso", C::Bool, "true", "experimental.quic-go-disable-gso"},
    {"quicGoDisableEcn", C::Bool, "true", "experimental.quic-go-disable-ecn"},
    {"dialerIp4pConvert", C::Bool, "false", "experimental.dialer-ip4p-convert"},
    {"geodataMode", C::Bool, "false", "geodata-mode"},
    {"geodataLoader", C::Text, "memconservative", "geodata-loader"},
    {"geoAutoUpdate", C::Bool, "false", "geo-auto-update"},
    {"geoUpdateInterval", C::Int, "24", "geo-update-interval"},
    {"geoxGeoIP", C::Text, "https://github.com/MetaCubeX/meta-rules-dat/releases/download/latest/geoip.dat", "geox-url.geoip"},
    {"geoxGeoSite", C::Text, "https://github.com/MetaCubeX/meta-rules-dat/releases/download/latest/geosite.dat", "geox-url.geosite"},
    {"geoxMMDB", C::Text, "https://github.com/MetaCubeX/meta-rules-dat/releases/download/latest/country.mmdb", "geox-url.mmdb"},
    {"geoxASN", C::Text, "https://github.com/MetaCubeX/meta-rules-dat/releases/download/latest/GeoLite2-ASN.mmdb", "geox-url.asn"},
    {"geoxModelBin", C::None, "https://github.com/vernesong/mihomo/releases/download/LightGBM-Model/Model.bin", ""},
    {"externalUI", C::Opt, "", "external-ui"},
    {"externalUIUrl", C::Opt, "", "external-ui-url"},
    {"externalUIName", C::Opt, "", "external-ui-name"},
    {"externalDohServer", C::Opt, "", "external-doh-server"},
    {"storeSelected", C::Bool, "true", "profile.store-selected"},
    {"storeFakeIP", C::Bool, "true", "profile.store-fake-ip"},
    {"globalUA", C::Text, "Mihomo/v1.18.0; clash.meta; clash", "global-ua"},
    {"etagSupport", C::Bool, "true", "etag-support"},
    {"quicBlockMode", C::Text, "overseas", "quicBlockMode"},
    {"systemProxyBypass", C::None, "localhost, 127.0.0.1, *.local, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16", ""},

    // Sniffer
    {"snifferEnable", C::Bool, "true", "sniffer.enable"},
    {"snifferOverrideDestination", C::Bool, "true", "sniffer.override-destination"},
    {"snifferForceDnsMapping", C::Bool, "true", "sniffer.force-dns-mapping"},
    {"snifferParsePureIp", C::Bool, "true", "sniffer.parse-pure-ip"},
    {"snifferSniffTlsPorts", C::Ports, kSnifferDefaultTlsPorts, "sniffer.sniff.tls.ports", kSnifferDefaultTlsPorts},
    {"snifferTlsOverrideDestination", C::Bool, "true", "sniffer.sniff.tls.override-destination"},
    {"snifferSniffHttpPorts", C::Ports, kSnifferDefaultHttpPorts, "sniffer.sniff.http.ports", kSnifferDefaultHttpPorts},
    {"snifferHttpOverrideDestination", C::Bool, "true", "sniffer.sniff.http.override-destination"},
    {"snifferSniffQuicPorts", C::Ports, kSnifferDefaultTlsPorts, "sniffer.sniff.quic.ports", kSnifferDefaultTlsPorts},
    {"snifferQuicOverrideDestination", C::Bool, "true", "sniffer.sniff.quic.override-destination"},
    {"snifferSkipDomain", C::List, "Mijia Cloud\n+.push.apple.com", "sniffer.skip-domain"},
    {"snifferForceDomain", C::List, "", "sniffer.force-domain"},
    {"snifferSkipSrcAddress", C::List, "", "sniffer.skip-src-address"},
    {"snifferSkipDstAddress", C::List, "", "sniffer.skip-dst-address"},

    // DNS
    {"enableDNS", C::Bool, "true", "dns.enable"},
    {"dnsEnhancedMode", C::Text, "fake-ip", "dns.enhanced-mode"},
    {"dnsIPv6", C::Bool, "false", "dns.ipv6"},
    {"dnsUseHosts", C::Bool, "true", "dns.use-hosts"},
    {"dnsUseSystemHosts", C::Bool, "true", "dns.use-system-hosts"},
    {"dnsRespectRules", C::Bool, "false", "dns.respect-rules"},
    {"dnsPreferH3", C::Bool, "false", "dns.prefer-h3"},
    {"dnsIPv6Timeout", C::Int, "100", "dns.ipv6-timeout"},
    {"dnsCacheAlgorithm", C::Text, "arc", "dns.cache-algorithm"},
    {"dnsCacheMaxSize", C::Int, "400", "dns.cache-max-size"},
    {"dnsListen", C::Opt, "", "dns.listen"},
    {"dnsFakeIpRange", C::Text, "198.18.0.1/16", "dns.fake-ip-range"},
    {"dnsFakeIpRange6", C::Text, "fc00::/18", "dns.fake-ip-range6"},
    {"dnsFakeIpFilterMode", C::Text, "blacklist", "dns.fake-ip-filter-mode"},
    {"dnsFakeIpFilter", C::List, "+.lan\n+.local", "dns.fake-ip-filter"},
    {"dnsFakeIpTTL", C::Int, "1", "dns.fake-ip-ttl"},
    {"dnsDefaultNameserver", C::List, "223.5.5.5\n119.29.29.29", "dns.default-nameserver"},
    {"dnsNameservers", C::List, "https://doh.pub/dns-query\nhttps://dns.alidns.com/dns-query", "dns.nameserver"},
    {"dnsFallback", C::List, "", "dns.fallback"},
    {"dnsProxyServerNameserver", C::List, "", "dns.proxy-server-nameserver"},
    {"dnsDirectNameserver", C::List, "", "dns.direct-nameserver"},
    {"dnsDirectNameserverFollowPolicy", C::Bool, "false", "dns.direct-nameserver-follow-policy"},
    {"dnsNameserverPolicy", C::Policy, "", "dns.nameserver-policy"},
    {"dnsProxyServerNameserverPolicy", C::Policy, "", "dns.proxy-server-nameserver-policy"},
    {"dnsFallbackFilterGeoIP", C::Bool, "false", "dns.fallback-filter.geoip"},
    {"dnsFallbackFilterGeoIPCode", C::Text, "CN", "dns.fallback-filter.geoip-code"},
    {"dnsFallbackFilterIPCIDR", C::List, "", "dns.fallback-filter.ipcidr"},
    {"dnsFallbackFilterDomain", C::List, "", "dns.fallback-filter.domain"},
    {"dnsFallbackFilterGeoSite", C::List, "", "dns.fallback-filter.geosite"},
    {"dnsCustomHosts", C::Hosts, "", "hosts"},

    // TUN
    {"tunEnabled", C::Bool, "false", "tun.enable"},
    {"tunStack", C::Text, "mixed", "tun.stack"},
    {"tunAutoRoute", C::Bool, "true", "tun.auto-route"},
    {"tunAutoDetectInterface", C::Bool, "true", "tun.auto-detect-interface"},
    {"tunStrictRoute", C::Bool, "false", "tun.strict-route"},
    {"tunEndpointIndependentNat", C::Bool, "false", "tun.endpoint-independent-nat"},
    {"tunDisableIcmpForwarding", C::Bool, "true", "tun.disable-icmp-forwarding"},
    {"tunMtu", C::Int, "9000", "tun.mtu", "9000"},
    {"tunDevice", C::Opt, "", "tun.device"},
    {"tunRecvMsgX", C::Bool, "true", "tun.recvmsgx"},
    {"tunSendMsgX", C::Bool, "false", "tun.sendmsgx"},
    {"udpTimeout", C::Int, "300", "tun.udp-timeout"},
    {"tunDnsHijack", C::List, "any:53\ntcp://any:53", "tun.dns-hijack"},
    {"tunRouteAddress", C::List, "", "tun.route-address"},
    {"tunRouteExcludeAddress", C::List, "", "tun.route-exclude-address"},
    {"tunIncludeInterface", C::List, "", "tun.include-interface"},
    {"tunExcludeInterface", C::List, "", "tun.exclude-interface"},
    // The kernel reads these as 16-bit integers and refuses the configuration when they are texts.
    {"tunExcludeSrcPort", C::Ports, "", "tun.exclude-src-port"},
    {"tunExcludeDstPort", C::Ports, "", "tun.exclude-dst-port"},
};
// clang-format on

QStringList splitList(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\r\\n]"));
    QStringList entries;
    for (const QString& entry : text.split(separators)) {
        const QString trimmed = entry.trimmed();
        if (!trimmed.isEmpty())
            entries.append(trimmed);
    }
    return entries;
}

NativeValue::Array toTexts(const QStringList& entries)
{
    return NativeValue::Array(entries.begin(), entries.end());
}

NativeValue::Array toPorts(const QStringList& entries)
{
    static const QRegularExpression wholeNumber(QStringLiteral("^[0-9]+$"));
    NativeValue::Array ports;
    for (const QString& entry : entries) {
        bool ok = false;
        const qint64 port = wholeNumber.match(entry).hasMatch() ? entry.toLongLong(&ok) : 0;
        ports.push_back(ok ? NativeValue(port) : NativeValue(entry));
    }
    return ports;
}

// "pattern = a, b" per line, split at the first '='; lines without one are ignored.
NativeValue::Dictionary toMapping(const QString& text, bool serverLists)
{
    NativeValue::Dictionary mapping;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\\r\\n]")))) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString pattern = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (pattern.isEmpty())
            continue;
        mapping.insert_or_assign(pattern,
                                 serverLists ? NativeValue(toTexts(splitList(value))) : NativeValue(value));
    }
    return mapping;
}

// The value of one setting, or null when its kernel key is to be left out.
NativeValue convert(const Setting& setting, const Settings& settings)
{
    const QString key = QLatin1String(setting.key);
    const QString defaultText = QString::fromUtf8(setting.defaultValue);
    // Texts never written compile as the page's default; a written empty text stays empty.
    const QString stored = settings.text(key).value_or(defaultText);

    switch (setting.conversion) {
    case C::Bool:
        return settings.boolean(key).value_or(defaultText == QLatin1String("true"));
    case C::Text:
        return stored.isEmpty() ? defaultText : stored;
    case C::Int: {
        // A never-written integer reads as 0, like a fresh preference store.
        const qint64 value = settings.integer(key).value_or(0);
        if (value >= 1)
            return value;
        return setting.fallback ? NativeValue(QByteArray(setting.fallback).toLongLong()) : NativeValue();
    }
    case C::List:
    case C::Ports: {
        QStringList entries = splitList(stored);
        if (entries.isEmpty() && setting.fallback)
            entries = splitList(QString::fromUtf8(setting.fallback));
        if (entries.isEmpty())
            return {};
        return setting.conversion == C::Ports ? toPorts(entries) : toTexts(entries);
    }
    case C::Policy:
    case C::Hosts: {
        NativeValue::Dictionary mapping = toMapping(stored, setting.conversion == C::Policy);
        return mapping.empty() ? NativeValue() : NativeValue(std::move(mapping));
    }
    case C::Opt:
        return stored.isEmpty() ? NativeValue() : NativeValue(stored);
    case C::None:
        break;
    }
    return {};
}

void place(NativeValue::Dictionary& root, const QString& dottedKey, NativeValue value)
{
    const QStringList path = dottedKey.split(u'.');
    NativeValue::Dictionary* level = &root;
    for (qsizetype i = 0; i + 1 < path.size(); ++i)
        level = &(*level)[path[i]].dictionary();
    if (!value.isNull())
        level->insert_or_assign(path.last(), std::move(value));
}

} // namespace

std::span<const Setting> table()
{
    return kTable;
}

const Setting* find(const QString& key)
{
    for (const Setting& setting : kTable) {
        if (key == QLatin1String(setting.key))
            return &setting;
    }
    return nullptr;
}

NativeValue::Dictionary buildOverridesFromDefaults(const Settings& settings)
{
    NativeValue::Dictionary overrides;
    for (const Setting& setting : kTable) {
        if (setting.conversion == C::None)
            continue;
        NativeValue value = convert(setting, settings);
        // The kernel reads sniffing on its own at the top level as well.
        if (qstrcmp(setting.key, "snifferEnable") == 0)
            overrides.insert_or_assign(QStringLiteral("sniffing"), value);
        // Parent blocks are created even when the key itself is left out: nested blocks are always whole.
        place(overrides, QString::fromLatin1(setting.kernelKey), std::move(value));
    }
    return overrides;
}

} // namespace tarnwick::EngineSettings
