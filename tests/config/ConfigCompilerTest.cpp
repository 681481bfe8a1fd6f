#include "config/ConfigCompiler.h"

#include "config/AtomicFile.h"
#include "config/ConfigParser.h"
#include "config/EngineSettings.h"
#include "config/yaml/Parser.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

class ConfigCompilerTest : public ::testing::Test
{
protected:
    QString profile(const QString& name, const QByteArray& yaml) const
    {
        const QString path = m_dir.filePath("profiles/" + name);
        writeFile(path, yaml);
        return path;
    }

    NativeValue compiled(const QByteArray& yaml, NativeValue::Dictionary overrides) const
    {
        const QString path = profile("p.yaml", yaml);
        return NativeValue::fromJson(ConfigCompiler::compile(path, std::move(overrides), {}));
    }

    QTemporaryDir m_dir;
};

NativeValue::Dictionary quic(const char* mode)
{
    return {{EngineSettings::quicBlockModeKey, NativeValue(mode)}};
}

QStringList texts(const NativeValue& array)
{
    QStringList list;
    for (const NativeValue& value : array.toArray())
        list.append(value.toString());
    return list;
}

} // namespace

TEST_F(ConfigCompilerTest, KeepsOnlyRoutingContentFromTheProfile)
{
    QTemporaryDir settingsDir;
    Settings settings(settingsDir.filePath("settings.ini"));
    settings.setInteger("mixedPort", 7893);
    settings.setText("quicBlockMode", "off");

    const NativeValue config = compiled(R"(
mixed-port: 1080
external-controller: 0.0.0.0:9090
secret: from-the-profile
mode: global
dns: {enable: false, nameserver: [8.8.8.8]}
tun: {enable: true, stack: gvisor}
proxies: []
proxy-groups: [{name: G, type: select, proxies: [DIRECT]}]
sub-rules: {inner: ["MATCH,DIRECT"]}
listeners: ''
rules:
  - DOMAIN-SUFFIX,b.example,DIRECT
  - SUB-RULE,(NETWORK,TCP),inner
  - 'DOMAIN,a.example,G'
  - MATCH,G
)",
                                        EngineSettings::buildOverridesFromDefaults(settings));
    // Engine settings win; the profile's own ports, controller, DNS and TUN are dropped.
    EXPECT_EQ(config.value("mixed-port"), NativeValue(7893));
    for (const char* dropped : {"external-controller", "secret", "mode", "quicBlockMode", "listeners"})
        EXPECT_FALSE(config.contains(QString::fromLatin1(dropped))) << dropped;
    EXPECT_EQ(config.value("dns").value("enable"), NativeValue(true));
    EXPECT_EQ(config.value("dns").value("enhanced-mode"), NativeValue("fake-ip"));
    EXPECT_EQ(config.value("tun").value("stack"), NativeValue("mixed"));
    EXPECT_EQ(texts(config.value("rules")),
              (QStringList{"DOMAIN-SUFFIX,b.example,DIRECT", "SUB-RULE,(NETWORK,TCP),inner",
                           "DOMAIN,a.example,G", "MATCH,G"}));
    EXPECT_EQ(config.value("sub-rules").value("inner"), NativeValue(NativeValue::Array{"MATCH,DIRECT"}));
    EXPECT_EQ(config.value("proxies"), NativeValue(NativeValue::Array{}));
}

TEST_F(ConfigCompilerTest, QuicBlockRule)
{
    // "all" without rules: exactly the one rule.
    EXPECT_EQ(texts(compiled("proxies: []\n", quic("all")).value("rules")),
              QStringList{ConfigCompiler::quicBlockAllRule});
    // "overseas" goes first, ahead of the profile's rules.
    EXPECT_EQ(texts(compiled("rules: ['MATCH,DIRECT']\n", quic("overseas")).value("rules")),
              (QStringList{ConfigCompiler::quicBlockOverseasRule, "MATCH,DIRECT"}));
    // A profile that already blocks QUIC (written with blanks) gets no second rule, wherever it stands.
    const QByteArray blocking =
        "rules:\n  - DOMAIN,x.example,DIRECT\n  - AND, ((DST-PORT, 443), (NETWORK, UDP)), REJECT\n";
    EXPECT_EQ(texts(compiled(blocking, quic("overseas")).value("rules")).size(), 2);
    // Off, unknown or mistyped modes add nothing.
    for (NativeValue mode : {NativeValue("off"), NativeValue("sometimes"), NativeValue(1)}) {
        const NativeValue config =
            compiled("rules:\n  - MATCH,DIRECT\n", {{EngineSettings::quicBlockModeKey, mode}});
        EXPECT_EQ(texts(config.value("rules")), QStringList{"MATCH,DIRECT"});
    }
    EXPECT_FALSE(compiled("proxies: []\n", {}).contains("rules"));
}

TEST_F(ConfigCompilerTest, MountedSubscriptionsBecomeStagedProviders)
{
    const QString remote = profile("Airport.yaml", "proxies: [fresh]\n");
    const QString offline = profile("Offline.v2.yml", "proxies: []\n");
    const QString gone = m_dir.filePath("profiles/Gone.yaml");
    const QString home = profile("home.yaml", R"(
proxy-providers:
  Airport: {type: http, url: "https://old.example/sub", path: ./old.yaml}
  Kept: {type: file, path: ./kept.yaml}
)");
    const QString target = m_dir.filePath("work/config.json");
    writeFile(m_dir.filePath("work/providers/Airport.yaml"), "stale");
    writeFile(m_dir.filePath("work/providers/Gone.yaml"), "stale");
    ConfigCompiler::compileAndWrite(home, target, {},
                                    {{remote, "https://sub.example/api?token=a/b"},
                                     {offline, QString()},
                                     {gone, QString()},
                                     {m_dir.filePath(".yaml"), "https://skipped"}});

    // A mounted subscription replaces the profile's provider of the same name.
    const auto provider = [](std::initializer_list<std::pair<const char*, NativeValue>> members) {
        NativeValue::Dictionary result{
            {"health-check", NativeValue::Dictionary{{"enable", true},
                                                     {"url", ConfigCompiler::healthCheckUrl},
                                                     {"interval", 600}}}};
        for (const auto& [key, value] : members)
            result.insert_or_assign(QString::fromLatin1(key), value);
        return NativeValue(result);
    };
    const NativeValue expected(NativeValue::Dictionary{
        {"Airport", provider({{"type", "http"},
                              {"url", "https://sub.example/api?token=a/b"},
                              {"path", "./providers/Airport.yaml"},
                              {"interval", 86400}})},
        {"Offline.v2", provider({{"type", "file"}, {"path", "./providers/Offline.v2.yaml"}})},
        {"Gone", provider({{"type", "file"}, {"path", "./providers/Gone.yaml"}})},
        {"Kept", NativeValue::Dictionary{{"type", "file"}, {"path", "./kept.yaml"}}},
    });
    const NativeValue config = NativeValue::fromJson(readFile(target).toUtf8());
    EXPECT_EQ(config.value("proxy-providers"), expected);

    // Staged beside the configuration, fresh; a mounted file that is gone leaves no stale copy behind.
    EXPECT_EQ(readFile(m_dir.filePath("work/providers/Airport.yaml")), "proxies: [fresh]\n");
    EXPECT_EQ(readFile(m_dir.filePath("work/providers/Offline.v2.yaml")), "proxies: []\n");
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("work/providers/Gone.yaml")));
}

TEST_F(ConfigCompilerTest, OutputIsSortedPrettyJsonWithUnescapedSlashes)
{
    const QString path = profile("p.yaml", "rules:\n  - MATCH,DIRECT\nproxies: []\n");
    const QByteArray json =
        ConfigCompiler::compile(path, {{"zeta", 1}, {"alpha", "https://a.example/x/y"}}, {});
    EXPECT_EQ(json, QByteArray(R"({
  "alpha": "https://a.example/x/y",
  "proxies": [],
  "rules": [
    "MATCH,DIRECT"
  ],
  "zeta": 1
})"));
}

TEST_F(ConfigCompilerTest, FailuresWriteNothing)
{
    const QString target = m_dir.filePath("work/config.json");
    const QString good = profile("good.yaml", "proxies: []\n");
    ConfigCompiler::compileAndWrite(good, target, {}, {});
    const QByteArray before = readFile(target).toUtf8();
    EXPECT_EQ(before, "{\n  \"proxies\": []\n}");

    const auto failure = [&](const QByteArray& yaml) {
        return errorText([&] { ConfigCompiler::compileAndWrite(profile("bad.yaml", yaml), target, {}, {}); });
    };
    EXPECT_EQ(failure("# only a comment\n\n"), "Subscription YAML is empty or contains only comments.");
    EXPECT_EQ(failure(""), "Subscription YAML is empty or contains only comments.");
    EXPECT_EQ(failure("- a\n- b\n"), "Subscription YAML root is not a mapping (expected key-value pairs).");
    EXPECT_EQ(failure("just text\n"), "Subscription YAML root is not a mapping (expected key-value pairs).");
    EXPECT_EQ(failure("rules: [*nowhere]\n"), "1:9: parser error: undefined alias '*nowhere'");
    // A value JSON cannot hold fails the compile with the serialiser's error.
    EXPECT_NE(failure("proxies: []\nrules: [.nan]\n"), "(no error)");
    EXPECT_THROW(ConfigCompiler::compile(m_dir.filePath("absent.yaml"), {}, {}), FileError);
    EXPECT_EQ(readFile(target).toUtf8(), before);
}

TEST_F(ConfigCompilerTest, CompiledGroupOrderMatchesTheProfile)
{
    // The proxy view lists groups in file order: the compiled JSON must keep the profile's order.
    const QString source = sharedTestData() + "/profiles/snakem982-large-66k-rules-pyyaml.yaml";
    const QString target = m_dir.filePath("config.json");
    ConfigCompiler::compileAndWrite(source, target, {}, {});
    const NativeValue profile(
        *Parser::compose(QByteArrayView(AtomicFile::read(source)))->toNativeDictionary());
    const auto names = [](const NativeValue& list) {
        QStringList result;
        for (const NativeValue& entry : list.toArray())
            result.append(entry.value("name").toString());
        return result;
    };
    const ConfigStructure fromJson = ConfigParser::parse(target);
    EXPECT_EQ(fromJson.proxyGroups.size(), 17);
    EXPECT_EQ(fromJson.proxyGroups, names(profile.value("proxy-groups")));
    EXPECT_EQ(fromJson.proxyGroups, ConfigParser::parse(source).proxyGroups);
    EXPECT_EQ(fromJson.proxies, names(profile.value("proxies")));
    EXPECT_EQ(fromJson.rules.size(), 66454);
}
