// Every published profile, and the default one, through the real kernel's own check (`mihomo -t`): as
// published, compiled with the default settings, and with its rules edited by the rule editor and compiled
// with settings changed on every page and a subscription mounted. What the kernel accepts as published it
// must accept after each step; a profile it refuses must fail for its own defect alone, before and after.
#include "config/ConfigCompiler.h"
#include "config/EngineSettings.h"
#include "config/RuleStore.h"
#include "platform/Settings.h"
#include "support/KernelProcess.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

// `mihomo -d WORK -f CONFIG -t` in a work directory holding Country.mmdb and GeoSite.dat (offline, the
// kernel would otherwise download them): empty when the kernel accepts the configuration, else its error
// message, or the last line it printed when it has none.
QString kernelRefusal(const QString& work, const QString& config)
{
    QProcess process;
    process.setWorkingDirectory(work);
    process.setProcessChannelMode(QProcess::MergedChannels);
    // Under a name of its own, so that another test's orphan clean-up does not take it for a leftover.
    process.start(work + "/kernel-under-test", {"-d", work, "-f", config, "-t"});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return "did not finish within 60 s";
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {};
    const QString output = QString::fromUtf8(process.readAll());
    static const QRegularExpression error(R"re(level=(?:error|fatal) msg="(.*)"\n)re");
    const QRegularExpressionMatch match = error.match(output);
    return match.hasMatch()
               ? match.captured(1)
               : "(exit " + QString::number(process.exitCode()) + ") " + output.trimmed().section(u'\n', -1);
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
    static const QRegularExpression category("(?:GEOSITE,|geosite:)([^,\\s'\":]+)",
                                             QRegularExpression::CaseInsensitiveOption);
    QStringList names{"cn"};
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

// The published profiles the kernel refuses as they are: its error (a pattern: it names the first group it
// checks, and its order of checking is not fixed) and, where our own parser refuses the file too, the
// compiler's.
struct Refusal
{
    QString kernel;
    QString compiler;
};
const QHash<QString, Refusal> kRefusedAsPublished{
    {"aiboboxx-clashfree-subscription.yml",
     {"^proxy 29: ss 13\\.212\\.193\\.32:443 cipher: ss initialize error: unknown method: ss$", {}}},
    {"mfuu-proxies-only-invalid-quoting.yaml",
     {"^yaml: line 22: did not find expected ',' or '}'$",
      "23:17: parser error: unexpected token in flow: a scalar"}},
    {"xvsvt-logic-not-subrules.yaml", {"^proxy group\\[\\d+\\]: [^:]+: `use` or `proxies` missing$", {}}},
    {"mihomo-docs-config.yaml",
     {"^yaml: line 64: did not find expected alphabetic or numeric character$",
      "64:7: scanner error: empty alias name"}},
};

QStringList profilesUnderTest()
{
    QStringList files;
    const QDir dir(sharedTestData() + "/profiles");
    for (const QString& name : dir.entryList({"*.yaml", "*.yml"}, QDir::Files, QDir::Name))
        files.append(dir.filePath(name));
    files.append(sourceDir() + "/resources/Default.yaml");
    return files;
}

class ConfigCompilerKernelTest : public ::testing::TestWithParam<QString>
{};

} // namespace

TEST_P(ConfigCompilerKernelTest, KernelAcceptsTheCompiledProfile)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(mmdb);
    const QString source = GetParam();
    QTemporaryDir work;
    ASSERT_TRUE(QFile::copy(mmdb, work.filePath("Country.mmdb")));
    ASSERT_TRUE(QFile::link(kernel, work.filePath("kernel-under-test")));
    writeFile(work.filePath("GeoSite.dat"), geoSiteFor(source));
    const auto found = kRefusedAsPublished.constFind(QFileInfo(source).fileName());
    const std::optional<Refusal> refusal =
        found == kRefusedAsPublished.cend() ? std::nullopt : std::optional(*found);
    const auto expectVerdict = [&](const QString& config, const char* stage) {
        const QString reason = kernelRefusal(work.path(), config);
        if (refusal)
            EXPECT_TRUE(QRegularExpression(refusal->kernel).match(reason).hasMatch())
                << stage << ": " << reason.toStdString();
        else
            EXPECT_EQ(reason, QString()) << stage;
    };
    expectVerdict(source, "as published");

    const QString settingsPath = work.filePath("settings.ini");
    const QString config = work.filePath("config.json");
    const auto compile = [&](const QString& profile, const ConfigCompiler::MountedSubscriptions& mounted) {
        const Settings settings(settingsPath);
        ConfigCompiler::compileAndWrite(profile, config, EngineSettings::buildOverridesFromDefaults(settings),
                                        mounted);
    };
    if (refusal && !refusal->compiler.isEmpty()) {
        EXPECT_EQ(errorText([&] { compile(source, {}); }), refusal->compiler);
        return;
    }
    compile(source, {});
    expectVerdict(config, "default settings");

    // The rule editor's edits, where the profile has rules to edit (provider payloads and proxy lists have
    // none).
    const QString profile = work.filePath("profile.yaml");
    ASSERT_TRUE(QFile::copy(source, profile));
    QFile::setPermissions(profile, QFile::ReadOwner | QFile::WriteOwner);
    if (errorText<RuleCRUDError>([&] { RuleStore::listRules(profile); }) == "(no error)") {
        ASSERT_GE(RuleStore::listRules(profile).size(), 4);
        RuleStore::insertRule("AND,((DOMAIN,a.example),(NETWORK,UDP)),DIRECT", 0, profile);
        RuleStore::toggleRule(1, profile);
        RuleStore::swapRules(2, 3, profile);
        RuleStore::insertRule("'DOMAIN-SUFFIX,b.example,REJECT'", 2, profile);
    }
    ASSERT_TRUE(QFile::copy(testData("config/changed-settings.ini"), settingsPath));
    compile(profile, {{sharedTestData() + "/profiles/vxiaov-provider-json-style.yaml", QString()}});
    ASSERT_TRUE(QFileInfo::exists(work.filePath("providers/vxiaov-provider-json-style.yaml")));
    expectVerdict(config, "rules edited, settings changed, a subscription mounted");
}

INSTANTIATE_TEST_SUITE_P(Profiles, ConfigCompilerKernelTest, ::testing::ValuesIn(profilesUnderTest()),
                         [](const ::testing::TestParamInfo<QString>& info) {
                             QString name = QFileInfo(info.param).completeBaseName();
                             name.replace(QRegularExpression("[^A-Za-z0-9]"), "_");
                             return name.toStdString();
                         });

// A group the profile names with tagged text keeps its name through the compiler: the running kernel lists
// it as "007", as it would read the profile itself, and not as 7.
TEST(ConfigCompilerTaggedKernelTest, KernelListsTheGroupUnderItsTaggedName)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    TARNWICK_REQUIRE_GEODATA(mmdb);
    QTemporaryDir dir;
    const QString profile = dir.filePath("profile.yaml");
    writeFile(profile, "proxy-groups:\n  - name: !!str 007\n    type: select\n    proxies: [DIRECT]\n"
                       "rules:\n  - MATCH,007\n");
    Settings settings(dir.filePath("settings.ini"));
    settings.setInteger("mixedPort", freePort());
    for (const char* unused : {"httpPort", "socksPort", "redirPort"})
        settings.setInteger(QString::fromLatin1(unused), 0);

    KernelProcess process(kernel);
    const QByteArray config =
        ConfigCompiler::compile(profile, EngineSettings::buildOverridesFromDefaults(settings), {});
    ASSERT_TRUE(process.start(config)) << process.state().toStdString() << "\n"
                                       << process.output().toStdString();

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(
        QUrl(QStringLiteral("http://%1:%2/proxies").arg(process.host()).arg(process.controllerPort())));
    request.setRawHeader("Authorization", "Bearer " + process.secret().toUtf8());
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    ASSERT_TRUE(waitFor([&] { return reply->isFinished(); }));
    ASSERT_EQ(reply->error(), QNetworkReply::NoError) << reply->errorString().toStdString();
    const QJsonObject proxies =
        QJsonDocument::fromJson(reply->readAll()).object().value(u"proxies").toObject();
    EXPECT_EQ(proxies.value(u"007").toObject().value(u"type").toString(), "Selector")
        << QJsonDocument(proxies).toJson().toStdString();
    EXPECT_FALSE(proxies.contains(u"7"));
}
