// The Linux backend of the network-setup commands against GNOME's real settings (gsettings on its keyfile
// backend) and a real kioslaverc, all inside a temporary HOME.
#include "helper/NetworkSetupBackend.h"

#include "helper/GnomeProxySettings.h"
#include "helper/HelperError.h"
#include "helper/KdeProxySettings.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

using Protocol = NetworkSetupCommand::Protocol;

const QByteArray kUserKioslaverc = "[$Version]\nupdate_info=kioslave.upd:kde4.2\n\n[Proxy Settings]\n"
                                   "NoProxyFor=corp.local\nProxyType=1\nhttpProxy=http://proxy.corp 3128\n"
                                   "\n[Cookie Policy]\nCookieGlobalAdvice=Accept\n";

class NetworkSetupBackendTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        m_gsettings = QStandardPaths::findExecutable("gsettings");
        if (m_gsettings.isEmpty()) {
            if (test::underCI())
                FAIL() << "gsettings is not installed (scripts/install-deps.sh)";
            GTEST_SKIP() << "gsettings is not installed";
        }
        // Everything the tools touch lives in the temporary HOME; no session bus to reach the real desktop.
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(".config").toUtf8());
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("XDG_CURRENT_DESKTOP");
        // The user's own manual proxy, set by hand before the application runs.
        for (const auto& [schema, key, value] : {std::tuple{"", "mode", "'manual'"},
                                                 {".http", "host", "'proxy.corp'"},
                                                 {".http", "port", "3128"},
                                                 {"", "ignore-hosts", "['corp.local']"}})
            gsettings({"set", "org.gnome.system.proxy" + QLatin1String(schema), key, value});
        test::writeFile(KdeProxySettings::defaultPath(), kUserKioslaverc);
        m_before = gnomeState();
    }

    QString gsettings(const QStringList& arguments) const
    {
        QProcess process;
        process.start(m_gsettings, arguments);
        process.waitForFinished();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    QStringList gnomeState() const
    {
        QStringList values;
        for (const char* schema : {"", ".http", ".https", ".socks"}) {
            for (const char* key : {"mode", "ignore-hosts", "host", "port"}) {
                if ((*schema == 0) == (QByteArray(key) == "mode" || QByteArray(key) == "ignore-hosts"))
                    values.append(gsettings(
                        {"get", "org.gnome.system.proxy" + QLatin1String(schema), QLatin1String(key)}));
            }
        }
        return values;
    }

    std::unique_ptr<NetworkSetupBackend> backend()
    {
        return NetworkSetupBackend::forThisSession(m_home.filePath("run/network-restore.json"));
    }

    void switchOn(NetworkSetupBackend& network, qint64 client)
    {
        for (const Protocol protocol : {Protocol::web, Protocol::secureWeb, Protocol::socks})
            network.run(*NetworkSetupCommand::parse(NetworkSetupCommand::executable,
                                                    NetworkSetupCommand::setProxy(protocol, m_service, 7890)),
                        client);
        network.run(*NetworkSetupCommand::parse(
                        NetworkSetupCommand::executable,
                        NetworkSetupCommand::setBypassDomains(m_service, {"localhost", "*.local"})),
                    client);
    }

    QTemporaryDir m_home;
    QString m_gsettings;
    QStringList m_before;
    const QString m_service = "Wired connection 1";
};

TEST_F(NetworkSetupBackendTest, PointsBothDesktopsAtTheKernelAndPutsBackWhatTheUserHad)
{
    const std::unique_ptr<NetworkSetupBackend> network = backend();
    switchOn(*network, QCoreApplication::applicationPid());
    EXPECT_EQ(gnomeState(), (QStringList{"'manual'", "['localhost', '*.local']", "'127.0.0.1'", "7890",
                                         "'127.0.0.1'", "7890", "'127.0.0.1'", "7890"}));
    const QByteArray kioslaverc = test::readFile(KdeProxySettings::defaultPath()).toUtf8();
    EXPECT_EQ(KdeProxySettings::entry(kioslaverc, "httpProxy"), "http://127.0.0.1 7890");
    EXPECT_EQ(KdeProxySettings::entry(kioslaverc, "socksProxy"), "socks://127.0.0.1 7890");
    EXPECT_EQ(KdeProxySettings::entry(kioslaverc, "NoProxyFor"), "localhost,*.local");
    EXPECT_TRUE(kioslaverc.contains("[Cookie Policy]\nCookieGlobalAdvice=Accept\n"));
    EXPECT_TRUE(network->hasSavedState());

    for (const Protocol protocol : {Protocol::web, Protocol::secureWeb, Protocol::socks})
        network->run(*NetworkSetupCommand::parse(NetworkSetupCommand::executable,
                                                 NetworkSetupCommand::setProxyOff(protocol, m_service)),
                     QCoreApplication::applicationPid());
    EXPECT_EQ(gnomeState(), m_before);
    EXPECT_EQ(test::readFile(KdeProxySettings::defaultPath()).toUtf8(), kUserKioslaverc);
    EXPECT_FALSE(network->hasSavedState());
}

TEST_F(NetworkSetupBackendTest, RestoresWhenTheApplicationDiesAlsoAfterAHelperRestart)
{
    for (const bool helperRestarts : {false, true}) {
        QProcess application;
        application.start("sleep", {"60"});
        ASSERT_TRUE(application.waitForStarted());
        std::unique_ptr<NetworkSetupBackend> network = backend();
        switchOn(*network, application.processId());
        ASSERT_NE(gnomeState(), m_before);
        if (helperRestarts)
            network.reset();
        application.kill();
        application.waitForFinished();
        QElapsedTimer restore;
        restore.start();
        if (helperRestarts)
            network = backend();
        EXPECT_TRUE(test::waitFor([&] { return !network->hasSavedState(); }, 2s)) << helperRestarts;
        EXPECT_LT(restore.elapsed(), 2000);
        EXPECT_EQ(gnomeState(), m_before);
        EXPECT_EQ(test::readFile(KdeProxySettings::defaultPath()).toUtf8(), kUserKioslaverc);
    }
}

TEST(NetworkSetupCommandTest, AcceptsOnlyTheExactShapes)
{
    const QString s = QStringLiteral("Café \"Home\" Wi-Fi");
    const QList<QStringList> accepted = {
        NetworkSetupCommand::setProxy(Protocol::socks, s, 7890),
        NetworkSetupCommand::setProxyOff(Protocol::secureWeb, s),
        NetworkSetupCommand::setBypassDomains(s, {"*.local", "10.0.0.0/8"}),
        NetworkSetupCommand::setBypassDomains(s, {}),
        NetworkSetupCommand::setDNSServers(s, {"223.6.6.6"}),
        NetworkSetupCommand::setDNSServers(s, {}),
    };
    for (const QStringList& arguments : accepted)
        EXPECT_TRUE(NetworkSetupCommand::parse(NetworkSetupCommand::executable, arguments))
            << arguments.join(' ').toStdString();
    const QList<QStringList> refused = {
        {"-setwebproxy", s, "10.0.0.1", "7890"},    {"-setwebproxy", s, "127.0.0.1", "07890"},
        {"-setwebproxy", s, "127.0.0.1", "65536"},  {"-setwebproxy", "-x", "127.0.0.1", "1"},
        {"-setwebproxy", "a\nb", "127.0.0.1", "1"}, {"-setwebproxystate", s, "on"},
        {"-setproxybypassdomains", s, "a b"},       {"-setproxybypassdomains", s, "'];rm"},
        {"-setdnsservers", s, "dns.example"},       {"-setairportpower", s, "off"},
    };
    for (const QStringList& arguments : refused)
        EXPECT_FALSE(NetworkSetupCommand::parse(NetworkSetupCommand::executable, arguments))
            << arguments.join(' ').toStdString();
    EXPECT_FALSE(NetworkSetupCommand::parse("networksetup", accepted.first()));
}

TEST(KdeProxySettingsTest, ChangesOnlyItsOwnLines)
{
    struct Case
    {
        QByteArray before;
        std::optional<QString> value;
        QByteArray after;
    };
    const Case cases[] = {
        {"", "1", "[Proxy Settings]\nProxyType=1\n"},
        {"[General]\nA=b", "1", "[General]\nA=b\n\n[Proxy Settings]\nProxyType=1"},
        {"[Proxy Settings]\nProxyType=0\n\n[X]\nProxyType=5\n", "1",
         "[Proxy Settings]\nProxyType=1\n\n[X]\nProxyType=5\n"},
        {"[Proxy Settings]\nA=b\n\n[X]\n", "1", "[Proxy Settings]\nA=b\nProxyType=1\n\n[X]\n"},
        {"[Proxy Settings]\nProxyType=1\nA=b\n", std::nullopt, "[Proxy Settings]\nA=b\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KdeProxySettings::withEntry(c.before, "ProxyType", c.value), c.after)
            << c.before.constData();
}

TEST(NetworkDnsTest, ChangesTheActiveDeviceForNowAndReappliesItsProfile)
{
    // nmcli cannot run against this machine: a stand-in answers with the listing recorded from the real
    // one and records the command lines it is given (the recording shows the real one carrying them out).
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("nmcli.log"));
    const QString nmcli = dir.filePath(QStringLiteral("nmcli"));
    test::writeFile(
        nmcli, QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\ncase \"$*\" in *--active*) cat '%2';; esac\n")
                   .arg(log, test::testData(QStringLiteral("network/nmcli-active-connections.txt")))
                   .toUtf8());
    QFile::setPermissions(nmcli, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const NetworkDns dns(nmcli, QString());
    const QJsonObject undo = dns.set(QStringLiteral("Café: Home \\ Lab"), {QStringLiteral("223.6.6.6")});
    dns.revert(undo);
    EXPECT_EQ(test::readFile(log).split('\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("-t -f NAME,TYPE,DEVICE connection show --active"),
                           QStringLiteral("device modify veth2 ipv4.dns 223.6.6.6 ipv4.ignore-auto-dns yes "
                                          "ipv6.dns  ipv6.ignore-auto-dns yes"),
                           QStringLiteral("device reapply veth2")}));
    // A tunnel is not a network the user is on, though it is active.
    for (const QString& service : {QStringLiteral("Nowhere"), QStringLiteral("Meta")}) {
        try {
            dns.set(service, {QStringLiteral("223.6.6.6")});
            ADD_FAILURE() << "no error for " << service.toStdString();
        } catch (const HelperError& error) {
            EXPECT_EQ(error.description(),
                      QStringLiteral("No active NetworkManager connection named \"%1\"").arg(service));
        }
    }
}

} // namespace
