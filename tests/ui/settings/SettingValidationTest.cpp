#include "ui/settings/SettingValidation.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tarnwick;

TEST(SettingValidationTest, RefusesWhatTheKernelWouldRefuseInWordsTheUserKnows)
{
    struct Case
    {
        const char* key;
        QString input;
        QString message; // empty: accepted
    };
    const Case cases[] = {
        {"mixedPort", QStringLiteral("7893"), {}},
        {"mixedPort", QStringLiteral(""), {}},
        {"socksPort", QStringLiteral("65536"),
         QStringLiteral("Enter a port from 1 to 65535, or 0 to close it.")},
        {"socksPort", QStringLiteral("-1"),
         QStringLiteral("Enter a port from 1 to 65535, or 0 to close it.")},
        {"tunMtu", QStringLiteral("1500x"), QStringLiteral("Enter a whole number from 0 to 65535.")},
        {"lanAllowedIPs", QStringLiteral("0.0.0.0/0\n::/0"), {}},
        {"lanAllowedIPs", QStringLiteral("10.0.0.0/8, 192.168.1.1"),
         QStringLiteral("\"192.168.1.1\" is not an IP range such as 192.168.0.0/16 or fc00::/7.")},
        {"snifferSniffHttpPorts", QStringLiteral("80\n8080-8880"), {}},
        {"snifferSniffHttpPorts", QStringLiteral("80\n8880-8080"),
         QStringLiteral("\"8880-8080\" is not a port or a range of ports such as 8080-8880.")},
        {"authentication", QStringLiteral("alice:secret\nbob"),
         QStringLiteral("\"bob\" is not a user name, a colon and a password.")},
        {"dnsNameservers",
         QStringLiteral("223.5.5.5\nhttps://doh.pub/dns-query\ntls://1.1.1.1:853\nsystem"),
         {}},
        {"dnsNameservers", QStringLiteral("ftp://dns.example"),
         QStringLiteral(
             "\"ftp://dns.example\" is not a DNS server: give an address such as 223.5.5.5 or a URL "
             "such as https://dns.example/dns-query.")},
        {"dnsNameserverPolicy", QStringLiteral("geosite:cn = 223.5.5.5, https://doh.pub/dns-query\n\n"), {}},
        {"dnsNameserverPolicy", QStringLiteral("geosite:cn = 223.5.5.5\n+.corp.example 10.0.0.1"),
         QStringLiteral("Line 2: write it as a pattern, \"=\" and one or more servers, such as geosite:cn = "
                        "223.5.5.5.")},
        {"dnsNameserverPolicy", QStringLiteral("geosite:cn = dns..example"),
         QStringLiteral(
             "Line 1: \"dns..example\" is not a DNS server: give an address such as 223.5.5.5 or a "
             "URL such as https://dns.example/dns-query.")},
        {"dnsCustomHosts", QStringLiteral("= 10.0.0.1"),
         QStringLiteral(
             "Line 1: write it as a domain, \"=\" and an address, such as router.lan = 192.168.1.1.")},
        {"dnsListen", QStringLiteral("127.0.0.1"),
         QStringLiteral("Enter an address and a port, such as 127.0.0.1:1053.")},
        {"dnsFakeIpRange6", QStringLiteral("fc00::/18"), {}},
        {"tunDnsHijack", QStringLiteral("any:53\ntcp://any:53\n198.18.0.2:53"), {}},
        {"tunDnsHijack", QStringLiteral("any"),
         QStringLiteral("\"any\" is not an address and port such as any:53 or tcp://any:53.")},
        {"bindAddress", QStringLiteral("localhost"),
         QStringLiteral("Enter * for every address, or one IP address.")},
        {"geoxMMDB", QStringLiteral(""), QStringLiteral("Enter an http or https address.")},
        {"logLevel", QStringLiteral("anything"), {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SettingValidation::forKey(QLatin1String(c.key))(c.input), c.message)
            << c.key << ": " << c.input.toStdString();

    EXPECT_EQ(SettingValidation::wifiNames(QStringLiteral(" Office , Home,,\n\nCafé")), QString());
    EXPECT_EQ(SettingValidation::wifiNames(QStringLiteral("Office\n Home\nOffice ")),
              QStringLiteral("\"Office\" is in the list twice."));
}
