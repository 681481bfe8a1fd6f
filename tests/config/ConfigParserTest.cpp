#include "config/ConfigParser.h"

#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

TEST(ConfigParserTest, LineScanOutlinesHandWrittenYaml)
{
    const ConfigStructure outline = ConfigParser::parse(testData("config/outline.yaml"));

    // Escapes inside quoted names are kept as written; the later "name:" line of a block entry names it,
    // not its "servername:".
    EXPECT_EQ(outline.proxies,
              (QStringList{QStringLiteral(R"(HK \"Fast\" 01)"), "JSON-Style", "Block One", "Sorted Keys"}));
    // A group's member list is not a list of groups.
    EXPECT_EQ(outline.proxyGroups, (QStringList{"Select", "Auto"}));
    EXPECT_EQ(outline.proxyProviders, (QStringList{"inline", "block", "quoted name"}));
    // Health-check urls, inline or nested, never stand in for the provider's own.
    const QMap<QString, QString> proxyURLs{{"inline", "https://sub.example/inline?x=1"},
                                           {"block", "https://sub.example/block"}};
    EXPECT_EQ(outline.proxyProviderURLs, proxyURLs);
    EXPECT_EQ(outline.ruleProviders, (QStringList{"reject", "direct"}));
    const QMap<QString, QString> ruleURLs{{"reject", "https://rules.example/reject.txt"},
                                          {"direct", "https://rules.example/direct.txt"}};
    EXPECT_EQ(outline.ruleProviderURLs, ruleURLs);
    EXPECT_EQ(outline.rules, (QStringList{"DOMAIN-SUFFIX,example.com,Select",
                                          "'AND,((NETWORK,UDP),(DST-PORT,443)),REJECT'", "MATCH,Auto"}));
}

TEST(ConfigParserTest, ReadsCompiledJsonDirectly)
{
    // Compiled output is read as JSON, so a rule that looks like a section opener stays a rule.
    const QByteArray json = R"({
  "proxies": [{"name": "a", "type": "ss"}, {"type": "no name"}],
  "proxy-groups": [{"name": "Zeta"}, {"name": "Alpha"}],
  "proxy-providers": {"p": {"type": "http", "url": "https://x.example/sub"}, "f": {"type": "file"}},
  "rule-providers": {"r": {"url": "https://x.example/r.txt"}},
  "rules": ["MATCH,Zeta", 7]
})";
    EXPECT_EQ(ConfigParser::parseBytes(json), (ConfigStructure{{"Zeta", "Alpha"},
                                                               {"a"},
                                                               {"f", "p"},
                                                               {{"p", "https://x.example/sub"}},
                                                               {"r"},
                                                               {{"r", "https://x.example/r.txt"}},
                                                               {"MATCH,Zeta"}}));
}

TEST(ConfigParserTest, MissingPartsGiveEmptyFieldsNotFailures)
{
    QTemporaryDir dir;
    EXPECT_EQ(ConfigParser::parse(dir.filePath("absent.yaml")), ConfigStructure{});

    // Not YAML at all, and a profile without rules: partial outlines, nothing thrown.
    const ConfigStructure noRules = ConfigParser::parseBytes("proxy-groups:\n  - {name: G, type: select\n");
    EXPECT_EQ(noRules.proxyGroups, QStringList{"G"});
    EXPECT_TRUE(noRules.rules.isEmpty());
    EXPECT_EQ(ConfigParser::parseBytes(QByteArray("\xff\xfe\x00rules", 8)), ConfigStructure{});
}

TEST(ConfigParserTest, ScansInvalidRealProfiles)
{
    // Rejected by the YAML library, still outlined: 290 proxies, one per line.
    const ConfigStructure outline =
        ConfigParser::parse(sharedTestData() + "/profiles/mfuu-proxies-only-invalid-quoting.yaml");
    EXPECT_EQ(outline.proxies.size(), 290);
    EXPECT_TRUE(outline.proxyGroups.isEmpty());
}
