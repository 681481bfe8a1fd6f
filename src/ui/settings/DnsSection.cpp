#include "DnsSection.h"

#include "SettingsForm.h"

#include <QRegularExpression>
#include <QVBoxLayout>

namespace tarnwick {

DnsSection::DnsSection(Settings& settings, QWidget* parent)
    : QWidget(parent), m_form(new SettingsForm(settings, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);
    m_form->addGroup(QStringLiteral("DNS Server"));
    m_form->addEngineFields({
        {"enableDNS", "Use the kernel's DNS"},
        {"dnsListen", "Listen on",
         "Address and port, such as 127.0.0.1:1053; empty: not reachable from outside."},
        {"dnsEnhancedMode",
         "Mode",
         nullptr,
         {QStringLiteral("fake-ip"), QStringLiteral("redir-host"), QStringLiteral("normal")}},
        {"dnsIPv6", "Answer IPv6 (AAAA) queries"},
        {"dnsIPv6Timeout", "IPv6 wait (milliseconds)"},
        {"dnsPreferH3", "Prefer HTTP/3 for DNS over HTTPS"},
        {"dnsRespectRules", "Send DNS queries along the rules"},
        {"dnsUseHosts", "Use the hosts below"},
        {"dnsUseSystemHosts", "Use the system's hosts file"},
        {"dnsCacheAlgorithm", "Cache", nullptr, {QStringLiteral("arc"), QStringLiteral("lru")}},
        {"dnsCacheMaxSize", "Cache entries"},
    });
    m_form->addGroup(QStringLiteral("Fake IP"));
    m_form->addEngineFields({
        {"dnsFakeIpRange", "IPv4 pool"},
        {"dnsFakeIpRange6", "IPv6 pool"},
        {"dnsFakeIpFilterMode",
         "Filter mode",
         "blacklist: the domains below get real addresses; whitelist: only they "
         "get fake ones.",
         {QStringLiteral("blacklist"), QStringLiteral("whitelist")}},
        {"dnsFakeIpFilter", "Filter", "One domain per line; +.lan covers every name under lan."},
        {"dnsFakeIpTTL", "Answer TTL (seconds)"},
    });
    m_form->addGroup(QStringLiteral("Nameservers"),
                     QStringLiteral("One server per line: an address such as 223.5.5.5, or a URL such as "
                                    "https://dns.example/dns-query, tls://1.1.1.1 or quic://dns.example."));
    m_form->addEngineFields({
        {"dnsDefaultNameserver", "Bootstrap", "Resolves the names of the servers below; plain addresses."},
        {"dnsNameservers", "Nameservers"},
        {"dnsFallback", "Fallback"},
        {"dnsProxyServerNameserver", "For proxy server names"},
        {"dnsDirectNameserver", "For direct connections"},
        {"dnsDirectNameserverFollowPolicy", "Direct lookups follow the policy"},
        {"dnsNameserverPolicy", "Nameserver policy",
         "One per line: pattern = servers, such as geosite:cn = 223.5.5.5"},
        {"dnsProxyServerNameserverPolicy", "Proxy server nameserver policy"},
    });
    m_form->addGroup(QStringLiteral("Fallback Filter"),
                     QStringLiteral("Answers that match these use the fallback servers instead."));
    m_form->addEngineFields({{"dnsFallbackFilterGeoIP", "Filter by country"}});
    SettingField::Definition code =
        SettingField::engine(QStringLiteral("dnsFallbackFilterGeoIPCode"), QStringLiteral("Trusted country"));
    code.check = [](const QString& text) {
        static const QRegularExpression countryCode(QStringLiteral("^[A-Za-z]{2}$"));
        return countryCode.match(text.trimmed()).hasMatch()
                   ? QString()
                   : QStringLiteral("Enter a two-letter country code such as CN.");
    };
    m_form->addField(code);
    m_form->addEngineFields({
        {"dnsFallbackFilterIPCIDR", "Addresses in these ranges"},
        {"dnsFallbackFilterDomain", "These domains"},
        {"dnsFallbackFilterGeoSite", "These geosite categories"},
    });
    m_form->addGroup(QStringLiteral("Hosts"));
    m_form->addEngineFields({
        {"dnsCustomHosts", "Hosts", "One per line: domain = address, such as router.lan = 192.168.1.1"},
    });
    m_form->finish();
}

} // namespace tarnwick
