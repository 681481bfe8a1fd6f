#include "config/EngineSettings.h"

#include "ConfigTestPrinters.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

class EngineSettingsTest : public ::testing::Test
{
protected:
    NativeValue build() const { return NativeValue(EngineSettings::buildOverridesFromDefaults(m_settings)); }

    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath(QStringLiteral("settings.ini"))};
};

NativeValue texts(std::initializer_list<const char*> entries)
{
    NativeValue::Array array;
    for (const char* entry : entries)
        array.emplace_back(entry);
    return array;
}

} // namespace

TEST_F(EngineSettingsTest, EmptyStoreCompilesThePageDefaultsWithoutPorts)
{
    const NativeValue overrides = build();
    // Integers never written are left to the kernel (the ports arrive later through the live patch).
    for (const char* key : {"mixed-port", "port", "socks-port", "redir-port", "tproxy-port",
                            "keep-alive-interval", "keep-alive-idle", "geo-update-interval"})
        EXPECT_FALSE(overrides.contains(QString::fromLatin1(key))) << key;
    EXPECT_FALSE(overrides.value(QStringLiteral("dns")).contains(QStringLiteral("cache-max-size")));
    // Lists, maps and optional texts without a value are left out too.
    for (const char* key : {"hosts", "authentication", "lan-disallowed-ips", "interface-name", "external-ui"})
        EXPECT_FALSE(overrides.contains(QString::fromLatin1(key))) << key;
    EXPECT_FALSE(overrides.value(QStringLiteral("dns")).contains(QStringLiteral("nameserver-policy")));

    EXPECT_EQ(overrides.value(QStringLiteral("log-level")), NativeValue("silent"));
    EXPECT_EQ(overrides.value(QStringLiteral("bind-address")), NativeValue("*"));
    EXPECT_EQ(overrides.value(QStringLiteral("lan-allowed-ips")), texts({"0.0.0.0/0", "::/0"}));
    EXPECT_EQ(overrides.value(QStringLiteral("skip-auth-prefixes")), texts({"127.0.0.1/8", "::1/128"}));
    EXPECT_EQ(overrides.value(QStringLiteral("quicBlockMode")), NativeValue("overseas"));
    EXPECT_EQ(overrides.value(QStringLiteral("tcp-concurrent")), NativeValue(true));
    EXPECT_EQ(overrides.value(QStringLiteral("sniffing")), NativeValue(true));

    const NativeValue& dns = overrides.value(QStringLiteral("dns"));
    EXPECT_EQ(dns.value(QStringLiteral("enhanced-mode")), NativeValue("fake-ip"));
    EXPECT_EQ(dns.value(QStringLiteral("fake-ip-filter")), texts({"+.lan", "+.local"}));
    EXPECT_EQ(dns.value(QStringLiteral("default-nameserver")), texts({"223.5.5.5", "119.29.29.29"}));
    EXPECT_EQ(dns.value(QStringLiteral("nameserver")).toArray().size(), 2u);
    EXPECT_EQ(dns.value(QStringLiteral("fallback-filter")),
              NativeValue(NativeValue::Dictionary{{QStringLiteral("geoip"), false},
                                                  {QStringLiteral("geoip-code"), "CN"}}));

    const NativeValue& tun = overrides.value(QStringLiteral("tun"));
    EXPECT_EQ(tun.value(QStringLiteral("stack")), NativeValue("mixed"));
    EXPECT_EQ(tun.value(QStringLiteral("mtu")), NativeValue(9000));
    EXPECT_EQ(tun.value(QStringLiteral("enable")), NativeValue(false));
    EXPECT_EQ(tun.value(QStringLiteral("dns-hijack")), texts({"any:53", "tcp://any:53"}));
    EXPECT_FALSE(tun.contains(QStringLiteral("udp-timeout")));

    const NativeValue& sniff = overrides.value(QStringLiteral("sniffer")).value(QStringLiteral("sniff"));
    EXPECT_EQ(sniff.value(QStringLiteral("http")).value(QStringLiteral("ports")),
              NativeValue(NativeValue::Array{80, "8080-8880"}));
    EXPECT_EQ(sniff.value(QStringLiteral("tls")).value(QStringLiteral("ports")),
              NativeValue(NativeValue::Array{443, 8443}));
    EXPECT_EQ(overrides.value(QStringLiteral("geox-url")).toDictionary().size(), 4u);
    EXPECT_EQ(overrides.value(QStringLiteral("experimental")).value(QStringLiteral("quic-go-disable-gso")),
              NativeValue(true));
}

TEST_F(EngineSettingsTest, WrittenValuesAndTheirConversions)
{
    m_settings.setInteger(QStringLiteral("mixedPort"), 7893);
    m_settings.setInteger(QStringLiteral("httpPort"), 0);
    m_settings.setInteger(QStringLiteral("socksPort"), -1);
    m_settings.setInteger(QStringLiteral("tunMtu"), 0);
    m_settings.setInteger(QStringLiteral("udpTimeout"), 60);
    m_settings.setText(QStringLiteral("logLevel"), QString());                    // empty text: the default
    m_settings.setText(QStringLiteral("bindAddress"), QString());                 // empty opt: left out
    m_settings.setText(QStringLiteral("lanAllowedIPs"), QStringLiteral(" , \n")); // empty list: left out
    m_settings.setText(QStringLiteral("skipAuthPrefixes"), QString()); // empty: the fixed loopback pair
    m_settings.setText(QStringLiteral("snifferSniffHttpPorts"), QStringLiteral("80\n 8080-8880, 9000 ,,"));
    m_settings.setText(QStringLiteral("snifferSniffTlsPorts"), QStringLiteral(" "));
    m_settings.setText(QStringLiteral("authentication"), QStringLiteral("alice:secret\r\nbob:pw"));
    m_settings.setText(QStringLiteral("dnsEnhancedMode"), QStringLiteral("redir-host"));
    m_settings.setBoolean(QStringLiteral("tcpConcurrent"), false);
    m_settings.setBoolean(QStringLiteral("snifferEnable"), false);
    m_settings.setText(QStringLiteral("quicBlockMode"), QStringLiteral("all"));
    m_settings.setText(QStringLiteral("tunExcludeDstPort"), QStringLiteral("123\n853"));

    const NativeValue overrides = build();
    EXPECT_EQ(overrides.value(QStringLiteral("mixed-port")), NativeValue(7893));
    EXPECT_FALSE(overrides.contains(QStringLiteral("port")));
    EXPECT_FALSE(overrides.contains(QStringLiteral("socks-port")));
    EXPECT_EQ(overrides.value(QStringLiteral("tun")).value(QStringLiteral("mtu")), NativeValue(9000));
    EXPECT_EQ(overrides.value(QStringLiteral("tun")).value(QStringLiteral("udp-timeout")), NativeValue(60));
    // The kernel takes excluded ports as integers only.
    EXPECT_EQ(overrides.value(QStringLiteral("tun")).value(QStringLiteral("exclude-dst-port")),
              NativeValue(NativeValue::Array{123, 853}));
    EXPECT_EQ(overrides.value(QStringLiteral("log-level")), NativeValue("silent"));
    EXPECT_FALSE(overrides.contains(QStringLiteral("bind-address")));
    EXPECT_FALSE(overrides.contains(QStringLiteral("lan-allowed-ips")));
    EXPECT_EQ(overrides.value(QStringLiteral("skip-auth-prefixes")), texts({"127.0.0.1/8", "::1/128"}));
    const NativeValue& sniffer = overrides.value(QStringLiteral("sniffer"));
    EXPECT_EQ(
        sniffer.value(QStringLiteral("sniff")).value(QStringLiteral("http")).value(QStringLiteral("ports")),
        NativeValue(NativeValue::Array{80, "8080-8880", 9000}));
    EXPECT_EQ(
        sniffer.value(QStringLiteral("sniff")).value(QStringLiteral("tls")).value(QStringLiteral("ports")),
        NativeValue(NativeValue::Array{443, 8443}));
    EXPECT_EQ(sniffer.value(QStringLiteral("enable")), NativeValue(false));
    EXPECT_EQ(overrides.value(QStringLiteral("sniffing")), NativeValue(false));
    EXPECT_EQ(overrides.value(QStringLiteral("authentication")), texts({"alice:secret", "bob:pw"}));
    EXPECT_EQ(overrides.value(QStringLiteral("dns")).value(QStringLiteral("enhanced-mode")),
              NativeValue("redir-host"));
    EXPECT_EQ(overrides.value(QStringLiteral("tcp-concurrent")), NativeValue(false));
    EXPECT_EQ(overrides.value(QStringLiteral("quicBlockMode")), NativeValue("all"));

    // Read at call time, nothing cached.
    m_settings.setInteger(QStringLiteral("tunMtu"), 1500);
    EXPECT_EQ(build().value(QStringLiteral("tun")).value(QStringLiteral("mtu")), NativeValue(1500));
}

TEST_F(EngineSettingsTest, PolicyAndHostsParsing)
{
    m_settings.setText(QStringLiteral("dnsNameserverPolicy"),
                       QStringLiteral("geosite:cn = 223.5.5.5\r\n"
                                      "no equals sign here\n"
                                      "+.example.com=https://dns.example/dns-query, 1.1.1.1 ,\n"
                                      " = orphan\n"
                                      "geosite:cn = 119.29.29.29"));
    m_settings.setText(QStringLiteral("dnsCustomHosts"),
                       QStringLiteral("router.lan = 192.168.1.1\nweird = a=b\nnothing"));
    const NativeValue overrides = build();
    const NativeValue expectedPolicy(NativeValue::Dictionary{
        {QStringLiteral("geosite:cn"), texts({"119.29.29.29"})}, // the later line wins
        {QStringLiteral("+.example.com"), texts({"https://dns.example/dns-query", "1.1.1.1"})},
    });
    EXPECT_EQ(overrides.value(QStringLiteral("dns")).value(QStringLiteral("nameserver-policy")),
              expectedPolicy);
    const NativeValue expectedHosts(NativeValue::Dictionary{
        {QStringLiteral("router.lan"), "192.168.1.1"},
        {QStringLiteral("weird"), "a=b"}, // split at the first equals sign only
    });
    EXPECT_EQ(overrides.value(QStringLiteral("hosts")), expectedHosts);

    m_settings.setText(QStringLiteral("dnsNameserverPolicy"), QStringLiteral("geosite:cn = 223.5.5.5"));
    EXPECT_EQ(build().value(QStringLiteral("dns")).value(QStringLiteral("nameserver-policy")),
              NativeValue(NativeValue::Dictionary{{QStringLiteral("geosite:cn"), texts({"223.5.5.5"})}}));
}

// A misspelt kernel key is silently ignored by the kernel, so check every key against the kernel's own
// configuration structures (the Go module the provisioned kernel is built from).
TEST(EngineSettingsKernelKeysTest, EveryKernelKeyExistsInTheKernel)
{
    QProcess go;
    go.start(QStringLiteral("go"), {QStringLiteral("env"), QStringLiteral("GOMODCACHE")});
    go.waitForFinished(30000);
    QString moduleCache = QString::fromUtf8(go.readAllStandardOutput()).trimmed();
    if (moduleCache.isEmpty())
        moduleCache = QDir::homePath() + QStringLiteral("/go/pkg/mod");
    const QString source =
        moduleCache + QStringLiteral("/github.com/metacubex/mihomo@v1.19.30/config/config.go");
    const QString text = readFile(source);
    if (text.isEmpty()) {
        if (underCI())
            FAIL() << "the kernel's source is not in the Go module cache: " << source.toStdString();
        GTEST_SKIP() << "the kernel's source is not in the Go module cache";
    }
    QSet<QString> tags;
    static const QRegularExpression tag(QStringLiteral(R"re(yaml:"([^",]+))re"));
    for (auto it = tag.globalMatch(text); it.hasNext();)
        tags.insert(it.next().captured(1));

    QSet<QString> seenSettings;
    QSet<QString> seenKernelKeys;
    for (const EngineSettings::Setting& setting : EngineSettings::table()) {
        const QString key = QString::fromLatin1(setting.key);
        EXPECT_FALSE(seenSettings.contains(key)) << "duplicate setting " << setting.key;
        seenSettings.insert(key);
        if (setting.conversion == EngineSettings::Conversion::None || key == EngineSettings::quicBlockModeKey)
            continue;
        const QString kernelKey = QString::fromLatin1(setting.kernelKey);
        EXPECT_FALSE(seenKernelKeys.contains(kernelKey)) << "duplicate kernel key " << setting.kernelKey;
        seenKernelKeys.insert(kernelKey);
        const QStringList path = kernelKey.split(u'.');
        for (qsizetype i = 0; i < path.size(); ++i) {
            // The sniff block is a map keyed by protocol.
            if (i > 0 && path[i - 1] == QLatin1String("sniff"))
                continue;
            EXPECT_TRUE(tags.contains(path[i]))
                << setting.key << ": the kernel has no key " << path[i].toStdString();
        }
    }
}
