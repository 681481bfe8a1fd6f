// Rule editing on real published profiles (every byte outside the edited line stays, the kernel accepts
// the result) and on the small shapes the editor must get right.
#include "config/RuleStore.h"

#include "config/ConfigCompiler.h"
#include "config/EngineSettings.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
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
    const QDir dir(sharedTestData() + QStringLiteral("/profiles"));
    for (const QString& name :
         dir.entryList({QStringLiteral("*.yaml"), QStringLiteral("*.yml")}, QDir::Files))
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
    const QString profile = m_dir.filePath(QStringLiteral("profile.yaml"));
    ASSERT_TRUE(QFile::copy(GetParam(), profile));
    const QByteArray original = bytesOf(profile);
    QList<RuleEntry> rules;
    try {
        rules = RuleStore::listRules(profile);
    } catch (const RuleCRUDError& error) {
        EXPECT_EQ(error.kind(), RuleCRUDError::Kind::rulesKeyNotFound);
        EXPECT_FALSE(original.contains("\nrules:"));
        EXPECT_THROW(RuleStore::insertRule(QStringLiteral("MATCH,DIRECT"), 0, profile), RuleCRUDError);
        EXPECT_EQ(bytesOf(profile), original);
        return;
    }
    ASSERT_GE(rules.size(), 2);
    const qsizetype count = rules.size();
    const QString added = QStringLiteral("DOMAIN-SUFFIX,tarnwick-test.example,DIRECT");

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

// `mihomo -t` in a work directory holding Country.mmdb; true when the kernel accepts the configuration.
bool kernelAccepts(const QString& config, const QString& work, QString* output)
{
    QProcess process;
    process.setWorkingDirectory(work);
    process.setProcessChannelMode(QProcess::MergedChannels);
    // Under a name of its own, so that another test's orphan clean-up does not take it for a leftover.
    const QString kernel = work + QStringLiteral("/kernel-under-test");
    QFile::link(kernelPath(), kernel);
    process.start(kernel, {QStringLiteral("-d"), work, QStringLiteral("-f"), config, QStringLiteral("-t")});
    if (!process.waitForFinished(60000))
        process.kill();
    *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray varint(quint64 value)
{
    QByteArray bytes;
    for (; value >= 0x80; value >>= 7)
        bytes.append(char((value & 0x7f) | 0x80));
    return bytes.append(char(value));
}

// A length-delimited protocol-buffer field.
QByteArray field(int number, const QByteArray& bytes)
{
    return varint(quint64(number) << 3 | 2) + varint(quint64(bytes.size())) + bytes;
}

// A GeoSite.dat (GeoSiteList { GeoSite entry = 1 }, GeoSite { country_code = 1; Domain domain = 2 },
// Domain { type = 1; value = 2 }) holding every category a profile names, with one made-up domain each:
// the real list cannot be had offline, and the kernel only needs the categories to exist. "cn" is the one
// it checks the file with.
QByteArray geoSiteFor(const QString& profile)
{
    static const QRegularExpression category(QStringLiteral("(?:GEOSITE,|geosite:)([^,\\s'\":]+)"),
                                             QRegularExpression::CaseInsensitiveOption);
    QStringList names{QStringLiteral("cn")};
    for (const QRegularExpressionMatch& match : category.globalMatch(readFile(profile))) {
        const QString name = match.captured(1).toLower().section(u'@', 0, 0).remove(QRegularExpression("^!"));
        if (!name.contains(u'/') && !names.contains(name))
            names.append(name);
    }
    QByteArray list;
    for (const QString& name : names) {
        const QByteArray domain = varint(1 << 3) + varint(2) + field(2, name.toUtf8() + ".example");
        list += field(1, field(1, name.toUpper().toUtf8()) + field(2, domain));
    }
    return list;
}

// The published profiles that cannot run as they are: the kernel's error (a pattern: it names the first
// group it checks, and its order of checking is not fixed) and, where our own parser refuses the file too,
// the compiler's.
struct Refusal
{
    QString kernel;
    QString compiler;
};
const QHash<QString, Refusal> kRefusedAsPublished{
    {QStringLiteral("aiboboxx-clashfree-subscription.yml"),
     {QStringLiteral(
          "^proxy 29: ss 13\\.212\\.193\\.32:443 cipher: ss initialize error: unknown method: ss$"),
      {}}},
    {QStringLiteral("xvsvt-logic-not-subrules.yaml"),
     {QStringLiteral("^proxy group\\[\\d+\\]: [^:]+: `use` or `proxies` missing$"), {}}},
    {QStringLiteral("mihomo-docs-config.yaml"),
     {QStringLiteral("^yaml: line 64: did not find expected alphabetic or numeric character$"),
      QStringLiteral("64:7: scanner error: empty alias name")}},
};

// The kernel's error message in its output, or the last line when it has none.
QString kernelError(const QString& output)
{
    static const QRegularExpression error(QStringLiteral("level=(?:error|fatal) msg=\"(.*)\"\n"));
    const QRegularExpressionMatch match = error.match(output);
    return match.hasMatch() ? match.captured(1) : output.trimmed().section(u'\n', -1);
}

TEST_P(RuleStoreProfileTest, KernelAcceptsTheEditedProfile)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(mmdb);
    QList<RuleEntry> rules;
    try {
        rules = RuleStore::listRules(GetParam());
    } catch (const RuleCRUDError& error) {
        // Provider payloads and proxy lists: nothing to edit, as the other test shows.
        EXPECT_EQ(error.kind(), RuleCRUDError::Kind::rulesKeyNotFound);
        return;
    }
    ASSERT_GE(rules.size(), 4);
    const QString work = m_dir.path();
    ASSERT_TRUE(QFile::copy(mmdb, m_dir.filePath(QStringLiteral("Country.mmdb"))));
    test::writeFile(m_dir.filePath(QStringLiteral("GeoSite.dat")), geoSiteFor(GetParam()));
    // A profile the kernel refuses as published must fail for its own defect alone, before and after.
    const std::optional<Refusal> refusal =
        kRefusedAsPublished.contains(QFileInfo(GetParam()).fileName())
            ? std::optional(kRefusedAsPublished.value(QFileInfo(GetParam()).fileName()))
            : std::nullopt;
    const auto refusedAsPublished = [&](const QString& output) {
        return refusal && QRegularExpression(refusal->kernel).match(kernelError(output)).hasMatch();
    };
    QString output;
    EXPECT_EQ(kernelAccepts(GetParam(), work, &output), !refusal) << output.toStdString();
    EXPECT_EQ(refusedAsPublished(output), bool(refusal)) << output.toStdString();
    const QString profile = m_dir.filePath(QStringLiteral("profile.yaml"));
    ASSERT_TRUE(QFile::copy(GetParam(), profile));
    QFile::setPermissions(profile, QFile::ReadOwner | QFile::WriteOwner);

    RuleStore::insertRule(QStringLiteral("AND,((DOMAIN,a.example),(NETWORK,UDP)),DIRECT"), 0, profile);
    RuleStore::toggleRule(1, profile);
    RuleStore::swapRules(2, 3, profile);
    RuleStore::insertRule(QStringLiteral("'DOMAIN-SUFFIX,b.example,REJECT'"), 2, profile);
    const QString config = m_dir.filePath(QStringLiteral("config.json"));
    const Settings settings(m_dir.filePath(QStringLiteral("settings.ini")));
    const auto compile = [&] {
        ConfigCompiler::compileAndWrite(profile, config, EngineSettings::buildOverridesFromDefaults(settings),
                                        {});
    };
    if (refusal && !refusal->compiler.isEmpty()) {
        EXPECT_EQ(errorText(compile), refusal->compiler);
        return;
    }
    compile();
    EXPECT_EQ(kernelAccepts(config, work, &output), !refusal) << output.toStdString();
    EXPECT_EQ(refusedAsPublished(output), bool(refusal)) << output.toStdString();
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
         [](const QString& f) { RuleStore::insertRule(QStringLiteral("DOMAIN,a.example,DIRECT"), 0, f); },
         "rules:\n- DOMAIN,a.example,DIRECT\n- MATCH,DIRECT\nx: 1\n"},
        {"a header with a comment is found", "a: 1\nrules: # mine\n  - MATCH,DIRECT\n",
         [](const QString& f) { RuleStore::insertRule(QStringLiteral("IP-CIDR,1.1.1.1/32,DIRECT"), 1, f); },
         "a: 1\nrules: # mine\n  - MATCH,DIRECT\n  - IP-CIDR,1.1.1.1/32,DIRECT\n"},
        {"an empty section gets its rule after the header", "rules:\nproxies: []\n",
         [](const QString& f) { RuleStore::insertRule(QStringLiteral("MATCH,DIRECT"), 0, f); },
         "rules:\n- MATCH,DIRECT\nproxies: []\n"},
        {"toggling comments out with the entry's own indentation", "rules:\n    - 'MATCH,DIRECT'\n",
         [](const QString& f) { RuleStore::toggleRule(0, f); }, "rules:\n    # - 'MATCH,DIRECT'\n"},
        {"disabled entries count and keep CRLF", "rules:\r\n  #- A,b,C\r\n  # note\r\n  - MATCH,DIRECT\r\n",
         [](const QString& f) { RuleStore::updateRule(1, QStringLiteral("MATCH,REJECT"), f); },
         "rules:\r\n  #- A,b,C\r\n  # note\r\n  - MATCH,REJECT\r\n"},
        {"the first key named rules is the section", "rules:\n  - A,b,C\nsub-rules:\n  x:\n    - B,c,D\n",
         [](const QString& f) { RuleStore::deleteRule(0, f); }, "rules:\nsub-rules:\n  x:\n    - B,c,D\n"},
    };
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.yaml"));
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
    const QString file = dir.filePath(QStringLiteral("p.yaml"));
    const QByteArray profile = "rules:\n  - A,a,DIRECT\n  - B,b,DIRECT\n  - MATCH,DIRECT\n";
    writeFile(file, profile);
    const struct
    {
        std::function<void()> edit;
        const char* description;
    } cases[] = {
        {[&] { RuleStore::deleteRule(3, file); }, "Rule index 3 is out of bounds (total: 3)"},
        {[&] { RuleStore::insertRule(QStringLiteral("X"), 4, file); },
         "Rule index 4 is out of bounds (total: 3)"},
        {[&] { RuleStore::swapRules(0, -1, file); }, "Rule index -1 is out of bounds (total: 3)"},
        {[&] { RuleStore::updateRule(0, QStringLiteral("A,a,DIRECT\nmode: global"), file); },
         "Invalid rule: a rule is one line"},
        {[&] { RuleStore::insertRule(QStringLiteral("  "), 0, file); }, "Invalid rule: the rule is empty"},
        {[&] { RuleStore::toggleRule(0, dir.filePath(QStringLiteral("none.yaml"))); }, nullptr},
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
        EXPECT_EQ(error.description(), QStringLiteral("Could not find 'rules:' section in config file"));
    }
}

TEST(LogicalRuleParserTest, TakesLogicalRulesApart)
{
    EXPECT_EQ(LogicalRuleParser::stripOuterParentheses(QStringLiteral(" ((DOMAIN,a.example)) ")),
              QStringLiteral("(DOMAIN,a.example)"));
    EXPECT_EQ(LogicalRuleParser::stripOuterParentheses(QStringLiteral("(DOMAIN,a.example)")),
              QStringLiteral("DOMAIN,a.example"));
    EXPECT_EQ(LogicalRuleParser::stripOuterParentheses(QStringLiteral("(DOMAIN,a),(NETWORK,UDP)")),
              QStringLiteral("(DOMAIN,a),(NETWORK,UDP)"));
    EXPECT_EQ(LogicalRuleParser::splitTopLevel(QStringLiteral("(DOMAIN,a), (OR,((B,b),(C,c))) ,x")),
              (QStringList{"(DOMAIN,a)", "(OR,((B,b),(C,c)))", "x"}));

    const QList<LogicalRuleParser::Condition> conditions =
        LogicalRuleParser::decompose(QStringLiteral("((DOMAIN,a.example),(NOT,((NETWORK,UDP))))"));
    ASSERT_EQ(conditions.size(), 2);
    EXPECT_EQ(conditions[0].text, QStringLiteral("DOMAIN,a.example"));
    EXPECT_EQ(conditions[0].logical, QString());
    EXPECT_EQ(conditions[1].logical, QStringLiteral("NOT"));
    ASSERT_EQ(conditions[1].operands.size(), 1);
    EXPECT_EQ(conditions[1].operands[0].text, QStringLiteral("NETWORK,UDP"));
}
