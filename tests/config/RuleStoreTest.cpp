// Rule editing on real published profiles (every byte outside the edited line stays; ConfigCompilerKernelTest
// has the kernel check the edited profiles) and on the small shapes the editor must get right.
#include "config/RuleStore.h"

#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The lines of `after` equal those of `before` but for `removed` lines of `before` at `at` replaced by
// `added` lines: nothing else moved or changed.
::testing::AssertionResult onlyLinesChanged(const QByteArray& before, const QByteArray& after, qsizetype at,
                                            qsizetype removed, qsizetype added)
{
    const QByteArrayList a = before.split('\n');
    const QByteArrayList b = after.split('\n');
    if (a.size() - removed + added != b.size())
        return ::testing::AssertionFailure() << "line count " << b.size();
    if (a.mid(0, at) != b.mid(0, at) || a.mid(at + removed) != b.mid(at + added))
        return ::testing::AssertionFailure() << "lines outside " << at << " changed";
    return ::testing::AssertionSuccess();
}

qsizetype lineOf(const QByteArray& text, const QByteArray& needle)
{
    const QByteArrayList lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].contains(needle))
            return i;
    }
    return -1;
}

QStringList publishedProfiles()
{
    QStringList files;
    const QDir dir(sharedTestData() + "/profiles");
    for (const QString& name : dir.entryList({"*.yaml", "*.yml"}, QDir::Files))
        files.append(dir.filePath(name));
    return files;
}

class RuleStoreProfileTest : public ::testing::TestWithParam<QString>
{
protected:
    QTemporaryDir m_dir;
};

} // namespace

TEST_P(RuleStoreProfileTest, EditsChangeOnlyTheEditedLine)
{
    const QString profile = m_dir.filePath("profile.yaml");
    ASSERT_TRUE(QFile::copy(GetParam(), profile));
    const QByteArray original = bytesOf(profile);
    QList<RuleEntry> rules;
    try {
        rules = RuleStore::listRules(profile);
    } catch (const RuleCRUDError& error) {
        EXPECT_EQ(error.kind(), RuleCRUDError::Kind::rulesKeyNotFound);
        EXPECT_FALSE(original.contains("\nrules:"));
        EXPECT_THROW(RuleStore::insertRule("MATCH,DIRECT", 0, profile), RuleCRUDError);
        EXPECT_EQ(bytesOf(profile), original);
        return;
    }
    ASSERT_GE(rules.size(), 2);
    const qsizetype count = rules.size();
    const QString added = "DOMAIN-SUFFIX,tarnwick-test.example,DIRECT";

    // Toggling twice and swapping twice give back the file itself.
    for (const qsizetype index : {qsizetype(0), count - 1}) {
        RuleStore::toggleRule(index, profile);
        EXPECT_EQ(RuleStore::listRules(profile)[index].enabled, !rules[index].enabled);
        EXPECT_EQ(RuleStore::listRules(profile)[index].text, rules[index].text);
        RuleStore::toggleRule(index, profile);
        EXPECT_EQ(bytesOf(profile), original);
    }
    RuleStore::swapRules(0, 1, profile);
    EXPECT_EQ(RuleStore::listRules(profile)[0].text, rules[1].text);
    RuleStore::swapRules(1, 0, profile);
    EXPECT_EQ(bytesOf(profile), original);

    for (const qsizetype at : {qsizetype(0), count}) {
        RuleStore::insertRule(added, at, profile);
        const QByteArray inserted = bytesOf(profile);
        EXPECT_TRUE(onlyLinesChanged(original, inserted, lineOf(inserted, "tarnwick-test.example"), 0, 1));
        EXPECT_EQ(RuleStore::listRules(profile).value(at), (RuleEntry{at, true, added}));
        RuleStore::deleteRule(at, profile);
        EXPECT_EQ(bytesOf(profile), original);
    }
    const qsizetype line = lineOf(original, rules[1].text.toUtf8());
    RuleStore::updateRule(1, added, profile);
    EXPECT_TRUE(onlyLinesChanged(original, bytesOf(profile), line, 1, 1));
    EXPECT_EQ(RuleStore::listRules(profile).size(), count);
    EXPECT_THROW(RuleStore::deleteRule(count, profile), RuleCRUDError);
}

INSTANTIATE_TEST_SUITE_P(
    Published, RuleStoreProfileTest, ::testing::ValuesIn(publishedProfiles()),
    [](const ::testing::TestParamInfo<QString>& info) {
        return QFileInfo(info.param).completeBaseName().replace(QRegularExpression("\\W"), "_").toStdString();
    });

TEST(RuleStoreTest, EditsTheShapesOfRulesSections)
{
    const struct
    {
        const char* what;
        QByteArray before;
        std::function<void(const QString&)> edit;
        QByteArray after;
    } cases[] = {
        {"column-0 entries get a column-0 rule", "rules:\n- MATCH,DIRECT\nx: 1\n",
         [](const QString& f) { RuleStore::insertRule("DOMAIN,a.example,DIRECT", 0, f); },
         "rules:\n- DOMAIN,a.example,DIRECT\n- MATCH,DIRECT\nx: 1\n"},
        {"a header with a comment is found", "a: 1\nrules: # mine\n  - MATCH,DIRECT\n",
         [](const QString& f) { RuleStore::insertRule("IP-CIDR,1.1.1.1/32,DIRECT", 1, f); },
         "a: 1\nrules: # mine\n  - MATCH,DIRECT\n  - IP-CIDR,1.1.1.1/32,DIRECT\n"},
        {"an empty section gets its rule after the header", "rules:\nproxies: []\n",
         [](const QString& f) { RuleStore::insertRule("MATCH,DIRECT", 0, f); },
         "rules:\n- MATCH,DIRECT\nproxies: []\n"},
        {"toggling comments out with the entry's own indentation", "rules:\n    - 'MATCH,DIRECT'\n",
         [](const QString& f) { RuleStore::toggleRule(0, f); }, "rules:\n    # - 'MATCH,DIRECT'\n"},
        {"disabled entries count and keep CRLF", "rules:\r\n  #- A,b,C\r\n  # note\r\n  - MATCH,DIRECT\r\n",
         [](const QString& f) { RuleStore::updateRule(1, "MATCH,REJECT", f); },
         "rules:\r\n  #- A,b,C\r\n  # note\r\n  - MATCH,REJECT\r\n"},
        {"the first key named rules is the section", "rules:\n  - A,b,C\nsub-rules:\n  x:\n    - B,c,D\n",
         [](const QString& f) { RuleStore::deleteRule(0, f); }, "rules:\nsub-rules:\n  x:\n    - B,c,D\n"},
    };
    QTemporaryDir dir;
    const QString file = dir.filePath("p.yaml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, c.before);
        c.edit(file);
        EXPECT_EQ(bytesOf(file), c.after);
    }
}

TEST(RuleStoreTest, RefusesBadEditsAndLeavesTheFileAlone)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("p.yaml");
    const QByteArray profile = "rules:\n  - A,a,DIRECT\n  - B,b,DIRECT\n  - MATCH,DIRECT\n";
    writeFile(file, profile);
    const struct
    {
        std::function<void()> edit;
        const char* description;
    } cases[] = {
        {[&] { RuleStore::deleteRule(3, file); }, "Rule index 3 is out of bounds (total: 3)"},
        {[&] { RuleStore::insertRule("X", 4, file); }, "Rule index 4 is out of bounds (total: 3)"},
        {[&] { RuleStore::swapRules(0, -1, file); }, "Rule index -1 is out of bounds (total: 3)"},
        {[&] { RuleStore::updateRule(0, "A,a,DIRECT\nmode: global", file); },
         "Invalid rule: a rule is one line"},
        {[&] { RuleStore::insertRule("  ", 0, file); }, "Invalid rule: the rule is empty"},
        {[&] { RuleStore::toggleRule(0, dir.filePath("none.yaml")); }, nullptr},
    };
    for (const auto& c : cases) {
        try {
            c.edit();
            ADD_FAILURE() << "no error for " << (c.description ? c.description : "a missing file");
        } catch (const Error& error) {
            if (c.description) {
                EXPECT_EQ(error.description(), QString::fromUtf8(c.description));
            }
        }
        EXPECT_EQ(bytesOf(file), profile);
    }
    writeFile(file, "proxies: []\n");
    try {
        RuleStore::listRules(file);
        ADD_FAILURE();
    } catch (const RuleCRUDError& error) {
        EXPECT_EQ(error.description(), "Could not find 'rules:' section in config file");
    }
}

TEST(LogicalRuleParserTest, TakesLogicalRulesApart)
{
    EXPECT_EQ(LogicalRuleParser::stripOuterParentheses(" ((DOMAIN,a.example)) "), "(DOMAIN,a.example)");
    EXPECT_EQ(LogicalRuleParser::stripOuterParentheses("(DOMAIN,a.example)"), "DOMAIN,a.example");
    EXPECT_EQ(LogicalRuleParser::stripOuterParentheses("(DOMAIN,a),(NETWORK,UDP)"),
              "(DOMAIN,a),(NETWORK,UDP)");
    EXPECT_EQ(LogicalRuleParser::splitTopLevel("(DOMAIN,a), (OR,((B,b),(C,c))) ,x"),
              (QStringList{"(DOMAIN,a)", "(OR,((B,b),(C,c)))", "x"}));

    const QList<LogicalRuleParser::Condition> conditions =
        LogicalRuleParser::decompose("((DOMAIN,a.example),(NOT,((NETWORK,UDP))))");
    ASSERT_EQ(conditions.size(), 2);
    EXPECT_EQ(conditions[0].text, "DOMAIN,a.example");
    EXPECT_EQ(conditions[0].logical, QString());
    EXPECT_EQ(conditions[1].logical, "NOT");
    ASSERT_EQ(conditions[1].operands.size(), 1);
    EXPECT_EQ(conditions[1].operands[0].text, "NETWORK,UDP");
}
