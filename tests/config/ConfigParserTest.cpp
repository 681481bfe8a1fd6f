#include "config/ConfigParser.h"

#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

TEST(ConfigParserTest, LineScanOutlinesHandWrittenYaml)
{
    const ConfigStructure outline = ConfigParser::parse(testData(QStringLiteral("config/outline.yaml")));

    // Escapes inside quoted names are kept as written; the later "name:" line of a block entry names it,
    // not its "servername:".
    EXPECT_EQ(outline.proxies, (QStringList{QStringLiteral(R"(HK \"Fast\" 01)"), QStringLiteral("JSON-Style"),
                                            QStringLiteral("Block One"), QStringLiteral("Sorted Keys")}));
    // A group's member list is not a list of groups.
    EXPECT_EQ(outline.proxyGroups, (QStringList{QStringLiteral("Select"), QStringLiteral("Auto")}));
    EXPECT_EQ(outline.proxyProviders, (QStringList{QStringLiteral("inline"), QStringLiteral("block"),
                                                   QStringLiteral("quoted name")}));
    // Health-check urls, inline or nested, never stand in for the provider's own.
    const QMap<QString, QString> proxyURLs{
        {QStringLiteral("inline"), QStringLiteral("https://sub.example/inline?x=1")},
        {QStringLiteral("block"), QStringLiteral("https://sub.example/block")}};
    EXPECT_EQ(outline.proxyProviderURLs, proxyURLs);
    EXPECT_EQ(outline.ruleProviders, (QStringList{QStringLiteral("reject"), QStringLiteral("direct")}));
    const QMap<QString, QString> ruleURLs{
        {QStringLiteral("reject"), QStringLiteral("https://rules.example/reject.txt")},
        {QStringLiteral("direct"), QStringLiteral("https://rules.example/direct.txt")}};
    EXPECT_EQ(outline.ruleProviderURLs, ruleURLs);
    EXPECT_EQ(outline.rules, (QStringList{QStringLiteral("DOMAIN-SUFFIX,example.com,Select"),
                                          QStringLiteral("'AND,((NETWORK,UDP),(DST-PORT,443)),REJECT'"),
                                          QStringLiteral("MATCH,Auto")}));
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
    const ConfigStructure outline = ConfigParser::parseBytes(json);
    EXPECT_EQ(outline.proxies, QStringList{QStringLiteral("a")});
    EXPECT_EQ(outline.proxyGroups, (QStringList{QStringLiteral("Zeta"), QStringLiteral("Alpha")}));
    EXPECT_EQ(outline.proxyProviders, (QStringList{QStringLiteral("f"), QStringLiteral("p")}));
    EXPECT_EQ(outline.proxyProviderURLs,
              (QMap<QString, QString>{{QStringLiteral("p"), QStringLiteral("https://x.example/sub")}}));
    EXPECT_EQ(outline.ruleProviderURLs,
              (QMap<QString, QString>{{QStringLiteral("r"), QStringLiteral("https://x.example/r.txt")}}));
    EXPECT_EQ(outline.rules, QStringList{QStringLiteral("MATCH,Zeta")});
}

TEST(ConfigParserTest, MissingPartsGiveEmptyFieldsNotFailures)
{
    QTemporaryDir dir;
    EXPECT_EQ(ConfigParser::parse(dir.filePath(QStringLiteral("absent.yaml"))), ConfigStructure{});

    // Not YAML at all, and a profile without rules: partial outlines, nothing thrown.
    const ConfigStructure noRules = ConfigParser::parseBytes("proxy-groups:\n  - {name: G, type: select\n");
    EXPECT_EQ(noRules.proxyGroups, QStringList{QStringLiteral("G")});
    EXPECT_TRUE(noRules.rules.isEmpty());
    EXPECT_EQ(ConfigParser::parseBytes(QByteArray("\xff\xfe\x00rules", 8)), ConfigStructure{});
}

TEST(ConfigParserTest, ScansInvalidRealProfiles)
{
    // Rejected by the YAML library, still outlined: 290 proxies, one per line.
    const ConfigStructure outline = ConfigParser::parse(
        sharedTestData() + QStringLiteral("/profiles/mfuu-proxies-only-invalid-quoting.yaml"));
    EXPECT_EQ(outline.proxies.size(), 290);
    EXPECT_TRUE(outline.proxyGroups.isEmpty());
}
