#include "config/ConfigCompiler.h"
#include "config/EngineSettings.h"
#include "platform/Settings.h"
#include "support/KernelProcess.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <iostream>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

struct KernelVerdict
{
    bool accepted = false;
    QString lastLine;
};

// `mihomo -d WORK -f CONFIG -t`, run in the work directory that holds Country.mmdb (offline, the kernel
// would otherwise try to download it).
KernelVerdict kernelTest(const QString& kernel, const QString& workDirectory, const QString& config)
{
    QProcess process;
    process.setWorkingDirectory(workDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kernel, {"-d", workDirectory, "-f", config, "-t"});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {false, "did not finish within 60 s"};
    }
    const QStringList lines = QString::fromUtf8(process.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QString reason;
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("level=error")) || line.contains(QLatin1String("level=fatal")))
            reason = line;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {false, "the kernel crashed or was killed"};
    const bool accepted = process.exitCode() == 0;
    return {accepted, reason.isEmpty() ? lines.value(lines.size() - 1) : reason};
}

// Settings a user could well have changed on every page; no GEOSITE, whose data cannot be had offline. Stored
// as the settings file holds them: numbers and booleans as their text.
void writeNonTrivialSettings(Settings& settings)
{
    const std::pair<const char*, const char*> values[] = {
        {"mixedPort", "17893"},
        {"httpPort", "17890"},
        {"socksPort", "17891"},
        {"redirPort", "0"},
        {"keepAliveInterval", "30"},
        {"keepAliveIdle", "600"},
        {"geoUpdateInterval", "48"},
        {"allowLan", "true"},
        {"bindAddress", "127.0.0.1"},
        {"lanAllowedIPs", "192.168.0.0/16\n10.0.0.0/8"},
        {"lanDisallowedIPs", "192.168.1.1/32"},
        {"authentication", "alice:s3cret, bob:pa:ss"},
        {"skipAuthPrefixes", "127.0.0.1/32\n::1/128"},
        {"ipv6Enabled", "true"},
        {"inboundTfo", "true"},
        {"logLevel", "debug"},
        {"tcpConcurrent", "false"},
        {"findProcessMode", "off"},
        {"dialerIp4pConvert", "true"},
        {"globalUA", "clash.meta/1.19"},
        {"quicBlockMode", "all"},
        {"snifferOverrideDestination", "false"},
        {"snifferSniffTlsPorts", "443\n8443\n10000-10100"},
        {"snifferSniffHttpPorts", "80"},
        {"snifferSkipDomain", "+.apple.com\nMijia Cloud"},
        {"snifferForceDomain", "+.netflix.com"},
        {"snifferSkipDstAddress", "91.105.192.0/23"},
        {"dnsEnhancedMode", "redir-host"},
        {"dnsIPv6", "true"},
        {"dnsRespectRules", "true"},
        {"dnsIPv6Timeout", "300"},
        {"dnsCacheMaxSize", "4096"},
        {"dnsListen", "127.0.0.1:1053"},
        {"dnsFakeIpFilter", "+.lan\n+.local\ntime.*.com"},
        {"dnsDefaultNameserver", "223.5.5.5"},
        {"dnsNameservers", "https://dns.alidns.com/dns-query\ntls://1.1.1.1"},
        {"dnsFallback", "https://1.0.0.1/dns-query"},
        {"dnsProxyServerNameserver", "https://doh.pub/dns-query"},
        {"dnsDirectNameserver", "system"},
        {"dnsNameserverPolicy", "+.corp.example = 10.0.0.53\n+.example.org = 1.1.1.1, 8.8.8.8"},
        {"dnsProxyServerNameserverPolicy", "+.example.net = 9.9.9.9"},
        {"dnsFallbackFilterGeoIP", "true"},
        {"dnsFallbackFilterIPCIDR", "240.0.0.0/4"},
        {"dnsFallbackFilterDomain", "+.google.com"},
        {"dnsCustomHosts", "router.lan = 192.168.1.1\nnas.lan = 192.168.1.2"},
        {"tunEnabled", "true"},
        {"tunStack", "gvisor"},
        {"tunMtu", "1500"},
        {"udpTimeout", "60"},
        {"tunDevice", "tarnwick0"},
        {"tunStrictRoute", "true"},
        {"tunDnsHijack", "any:53"},
        {"tunRouteAddress", "0.0.0.0/1\n128.0.0.0/1"},
        {"tunRouteExcludeAddress", "192.168.0.0/16"},
        {"tunExcludeInterface", "docker0"},
        {"tunExcludeSrcPort", "5353"},
        {"tunExcludeDstPort", "123\n853"}};
    for (const auto& [key, value] : values)
        settings.setText(QString::fromLatin1(key), QString::fromUtf8(value));
}

// Published profiles the kernel itself refuses, with the words of its refusal.
const QMap<QString, QString> kRejectedAsPublished{
    {"aiboboxx-clashfree-subscription.yml", "unknown method: ss"},
    {"mfuu-proxies-only-invalid-quoting.yaml", "did not find expected ',' or '}'"},
    {"xvsvt-logic-not-subrules.yaml", "`use` or `proxies` missing"},
};

// A profile that uses GeoSite categories (GEOSITE rules, "geosite:" in DNS policies) makes the kernel fetch
// GeoSite.dat from the internet, which tests never do; such profiles (ermaozi-block-style-rule-providers.yml,
// mihomo-docs-config.yaml) are left out of the kernel runs.
bool needsGeoSite(const QString& path)
{
    static const QRegularExpression use("GEOSITE,|geosite:[^/\\s]",
                                        QRegularExpression::CaseInsensitiveOption);
    return readFile(path).contains(use);
}

QStringList profilesUnderTest()
{
    QStringList files;
    const QDir dir(sharedTestData() + "/profiles");
    const QStringList patterns{"*.yaml", "*.yml"};
    for (const QString& name : dir.entryList(patterns, QDir::Files, QDir::Name)) {
        if (!needsGeoSite(dir.filePath(name)))
            files.append(dir.filePath(name));
    }
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
    const QString name = QFileInfo(source).fileName();
    QTemporaryDir work;
    ASSERT_TRUE(QFile::copy(mmdb, work.filePath("Country.mmdb")));
    // Run under a name of its own, so that nothing takes it for a leftover kernel.
    const QString kernelUnderTest = work.filePath("kernel-under-test");
    ASSERT_TRUE(QFile::link(kernel, kernelUnderTest));

    const KernelVerdict published = kernelTest(kernelUnderTest, work.path(), source);
    // Only a profile the kernel accepts as published can be held to the same after compiling.
    if (kRejectedAsPublished.contains(name)) {
        EXPECT_FALSE(published.accepted);
        EXPECT_TRUE(published.lastLine.contains(kRejectedAsPublished.value(name)))
            << published.lastLine.toStdString();
        return;
    }
    ASSERT_TRUE(published.accepted) << "as published: " << published.lastLine.toStdString();

    // A subscription mounted into the profile as a provider, staged beside the configuration.
    const ConfigCompiler::MountedSubscriptions mounted{
        {sharedTestData() + "/profiles/vxiaov-provider-json-style.yaml", QString()}};

    QTemporaryDir settingsDir;
    Settings settings(settingsDir.filePath("settings.ini"));
    const QString config = work.filePath("config.json");
    ConfigCompiler::compileAndWrite(source, config, EngineSettings::buildOverridesFromDefaults(settings), {});
    const KernelVerdict withDefaults = kernelTest(kernelUnderTest, work.path(), config);
    EXPECT_TRUE(withDefaults.accepted) << "default settings: " << withDefaults.lastLine.toStdString();

    writeNonTrivialSettings(settings);
    ConfigCompiler::compileAndWrite(source, config, EngineSettings::buildOverridesFromDefaults(settings),
                                    mounted);
    ASSERT_TRUE(QFileInfo::exists(work.filePath("providers/vxiaov-provider-json-style.yaml")));
    const KernelVerdict withSettings = kernelTest(kernelUnderTest, work.path(), config);
    EXPECT_TRUE(withSettings.accepted) << "changed settings: " << withSettings.lastLine.toStdString();
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
