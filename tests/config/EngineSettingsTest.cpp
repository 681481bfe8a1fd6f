#include "config/EngineSettings.h"

#include "platform/Settings.h"
#include "support/QtPrinters.h"
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
    void SetUp() override { m_overrides = build(); }
    NativeValue build() const { return NativeValue(EngineSettings::buildOverridesFromDefaults(m_settings)); }
    // The value at a dotted kernel key path, null when absent.
    NativeValue at(const char* path) const
    {
        const NativeValue* value = &m_overrides;
        for (const QString& key : QString::fromLatin1(path).split(u'.'))
            value = &value->value(key);
        return *value;
    }
    void text(const char* key, const char* value)
    {
        m_settings.setText(QLatin1String(key), QString::fromUtf8(value));
    }

    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath("settings.ini")};
    NativeValue m_overrides;
};

NativeValue texts(std::initializer_list<const char*> entries)
{
    return NativeValue::Array(entries.begin(), entries.end());
}

} // namespace

TEST_F(EngineSettingsTest, EmptyStoreCompilesThePageDefaultsWithoutPorts)
{
    // Integers never written are left to the kernel, and so are lists, maps and optional texts without a
    // value; but the mixed port is always given, so that a reload keeps it open.
    EXPECT_EQ(at("mixed-port"), NativeValue(EngineSettings::defaultMixedPort));
    for (const char* key : {"port", "socks-port", "redir-port", "tproxy-port", "keep-alive-interval",
                            "keep-alive-idle", "dns.cache-max-size", "hosts", "authentication",
                            "interface-name", "dns.nameserver-policy", "tun.udp-timeout"})
        EXPECT_TRUE(at(key).isNull()) << key;

    // Defaults take the kernel's types: lists, maps, and ports that are numbers or ranges.
    EXPECT_EQ(at("lan-allowed-ips"), texts({"0.0.0.0/0", "::/0"}));
    EXPECT_EQ(at("dns.fallback-filter"),
              NativeValue(NativeValue::Dictionary{{"geoip", false}, {"geoip-code", "CN"}}));
    EXPECT_EQ(at("tun.mtu"), NativeValue(9000));
    EXPECT_EQ(at("sniffer.sniff.http.ports"), NativeValue(NativeValue::Array{80, "8080-8880"}));
}

TEST_F(EngineSettingsTest, WrittenValuesAndTheirConversions)
{
    m_settings.setInteger("mixedPort", 7893);
    m_settings.setInteger("httpPort", 0);
    m_settings.setInteger("socksPort", -1);
    m_settings.setInteger("tunMtu", 0);
    m_settings.setBoolean("snifferEnable", false);
    text("logLevel", "");           // empty text: the default
    text("bindAddress", "");        // empty optional text: left out
    text("lanAllowedIPs", " , \n"); // no entry left: left out
    text("skipAuthPrefixes", "");   // empty: the loopback pair all the same
    text("snifferSniffHttpPorts", "80\n 8080-8880, 9000 ,,");
    text("snifferSniffTlsPorts", " "); // no entry: the page's default
    text("authentication", "alice:secret\r\nbob:pw");
    text("tunExcludeDstPort", "123\n853");
    m_overrides = build();

    EXPECT_EQ(at("mixed-port"), NativeValue(7893));
    for (const char* key : {"port", "socks-port", "bind-address", "lan-allowed-ips"})
        EXPECT_TRUE(at(key).isNull()) << key;
    EXPECT_EQ(at("tun.mtu"), NativeValue(9000));
    EXPECT_EQ(at("log-level"), NativeValue("silent"));
    EXPECT_EQ(at("skip-auth-prefixes"), texts({"127.0.0.1/8", "::1/128"}));
    EXPECT_EQ(at("sniffer.sniff.http.ports"), NativeValue(NativeValue::Array{80, "8080-8880", 9000}));
    EXPECT_EQ(at("sniffer.sniff.tls.ports"), NativeValue(NativeValue::Array{443, 8443}));
    EXPECT_EQ(at("sniffer.enable"), NativeValue(false));
    EXPECT_EQ(at("sniffing"), NativeValue(false));
    EXPECT_EQ(at("authentication"), texts({"alice:secret", "bob:pw"}));
    // The kernel takes excluded ports as integers only.
    EXPECT_EQ(at("tun.exclude-dst-port"), NativeValue(NativeValue::Array{123, 853}));

    // Read at call time, nothing cached.
    m_settings.setInteger("tunMtu", 1500);
    m_overrides = build();
    EXPECT_EQ(at("tun.mtu"), NativeValue(1500));
}

TEST_F(EngineSettingsTest, PolicyAndHostsParsing)
{
    text("dnsNameserverPolicy", "geosite:cn = 223.5.5.5");
    m_overrides = build();
    EXPECT_EQ(at("dns.nameserver-policy"),
              NativeValue(NativeValue::Dictionary{{"geosite:cn", texts({"223.5.5.5"})}}));

    text("dnsNameserverPolicy", "geosite:cn = 223.5.5.5\r\nno equals sign here\n"
                                "+.example.com=https://dns.example/dns-query, 1.1.1.1 ,\n = orphan\n"
                                "geosite:cn = 119.29.29.29");
    text("dnsCustomHosts", "router.lan = 192.168.1.1\nweird = a=b\nnothing");
    m_overrides = build();
    EXPECT_EQ(at("dns.nameserver-policy"),
              NativeValue(NativeValue::Dictionary{
                  {"geosite:cn", texts({"119.29.29.29"})}, // the later line wins
                  {"+.example.com", texts({"https://dns.example/dns-query", "1.1.1.1"})}}));
    // Split at the first equals sign only.
    EXPECT_EQ(at("hosts"),
              NativeValue(NativeValue::Dictionary{{"router.lan", "192.168.1.1"}, {"weird", "a=b"}}));
}

// The kernel silently ignores a key it does not know, so every key is checked against the kernel's own
// configuration structures (the Go module the provisioned kernel is built from).
TEST(EngineSettingsKernelKeysTest, EveryKernelKeyExistsInTheKernel)
{
    QProcess go;
    go.start("go", {"env", "GOMODCACHE"});
    go.waitForFinished(30000);
    QString moduleCache = QString::fromUtf8(go.readAllStandardOutput()).trimmed();
    if (moduleCache.isEmpty())
        moduleCache = QDir::homePath() + "/go/pkg/mod";
    const QString source = moduleCache + "/github.com/metacubex/mihomo@v1.19.30/config/config.go";
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

    QSet<QString> settingKeys;
    QSet<QString> kernelKeys;
    for (const EngineSettings::Setting& setting : EngineSettings::table()) {
        const QString key = QString::fromLatin1(setting.key);
        const QString kernelKey = QString::fromLatin1(setting.kernelKey);
        EXPECT_FALSE(settingKeys.contains(key)) << "duplicate setting " << setting.key;
        settingKeys.insert(key);
        if (kernelKey.isEmpty() || key == EngineSettings::quicBlockModeKey)
            continue;
        EXPECT_FALSE(kernelKeys.contains(kernelKey)) << "duplicate kernel key " << setting.kernelKey;
        kernelKeys.insert(kernelKey);
        const QStringList path = kernelKey.split(u'.');
        for (qsizetype i = 0; i < path.size(); ++i) {
            // The sniff block is a map keyed by protocol.
            if (i == 0 || path[i - 1] != QLatin1String("sniff")) {
                EXPECT_TRUE(tags.contains(path[i]))
                    << setting.key << ": no kernel key " << path[i].toStdString();
            }
        }
    }
}
