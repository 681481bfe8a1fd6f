#include "KernelFixture.h"
#include "controller/DelayLevel.h"
#include "controller/MihomoClient.h"
#include "controller/MihomoClientError.h"

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

const QString selectGroup = "Select/Group #1";

// The HTTP status the kernel refused the call with, or 0 when it accepted it.
template <typename T> int refusalStatus(QCoro::Task<T> task)
{
    try {
        test::await(std::move(task));
    } catch (const MihomoClientError& error) {
        return error.status();
    }
    return 0;
}

const ProxyGroup* findGroup(const QList<ProxyGroup>& groups, const QString& name)
{
    const auto found =
        std::find_if(groups.begin(), groups.end(), [&](const ProxyGroup& g) { return g.name == name; });
    return found == groups.end() ? nullptr : &*found;
}

QStringList memberNames(const ProxyGroup& group)
{
    QStringList names;
    for (const ProxyNode& node : group.proxies)
        names.append(node.name);
    return names;
}

// Every controller operation against the real kernel running the test profile: selector, url-test, fallback
// and load-balance groups, a file proxy provider and a file rule provider.
class MihomoClientKernelTest : public test::KernelFixture
{
protected:
    void SetUp() override
    {
        KernelFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_kernel->writeFile("providers/nodes.yaml",
                            test::readFile(test::testData("controller/nodes.yaml")).toUtf8());
        m_kernel->writeFile("rules/local.yaml",
                            test::readFile(test::testData("controller/local-rules.yaml")).toUtf8());
        startKernel(profile("profile.yaml"));
    }

    MihomoClient& client() { return *m_client; }
};

} // namespace

TEST_F(MihomoClientKernelTest, ConfigurationModesAndCaches)
{
    EXPECT_EQ(test::await(client().version()), "v1.19.30");
    const QJsonObject configs = test::await(client().configs());
    EXPECT_EQ(configs.value("mixed-port").toInt(), m_mixedPort);
    EXPECT_EQ(test::await(client().currentMode()), OutboundMode::rule);
    EXPECT_FALSE(test::await(client().isTunEnabled()));

    for (const OutboundMode mode : {OutboundMode::global, OutboundMode::direct, OutboundMode::rule}) {
        test::await(client().setMode(mode));
        EXPECT_EQ(test::await(client().currentMode()), mode);
    }

    ConfigPatch patch;
    patch.logLevel = "debug";
    patch.allowLan = true;
    patch.ipv6 = true;
    test::await(client().patchConfigs(patch));
    QJsonObject patched = test::await(client().configs());
    EXPECT_EQ(patched.value("log-level").toString(), "debug");
    EXPECT_TRUE(patched.value("allow-lan").toBool());
    EXPECT_TRUE(patched.value("ipv6").toBool());

    // A reload reads the profile again, which puts back what the patches and the mode changed.
    test::await(client().setMode(OutboundMode::global));
    test::await(client().reloadConfig(true));
    EXPECT_EQ(test::await(client().currentMode()), OutboundMode::rule);
    patched = test::await(client().configs());
    EXPECT_EQ(patched.value("log-level").toString(), "info");
    EXPECT_FALSE(patched.value("allow-lan").toBool());

    test::await(client().flushDNSCache());
    // Without fake-ip there is no pool, and flushing it is no error.
    test::await(client().flushFakeIPCache());
    // No rule of the profile needs geodata, so there is nothing to download.
    test::await(client().updateGeoDatabases());

    // A wrong secret is refused with the kernel's own message.
    const MihomoClient stranger(ControllerEndpoint{m_kernel->host(), m_kernel->controllerPort(), "wrong"},
                                &m_network);
    EXPECT_EQ(test::errorText<MihomoClientError>(stranger.version()), "Mihomo: Unauthorized (HTTP 401)");
}

TEST_F(MihomoClientKernelTest, GroupsSelectionAndLatencyTests)
{
    QList<ProxyGroup> groups = test::await(client().proxyGroups());
    const ProxyGroup* select = findGroup(groups, selectGroup);
    ASSERT_TRUE(select);
    EXPECT_EQ(select->type, GroupType::selector);
    EXPECT_EQ(select->selectedProxyName, "direct-a");
    EXPECT_EQ(memberNames(*select), (QStringList{"direct-a", "direct-b", "dead", "Auto"}));
    EXPECT_EQ(select->proxies[0].type, "Direct");
    EXPECT_TRUE(select->proxies[0].udp);
    EXPECT_EQ(select->proxies[2].type, "Socks5");
    EXPECT_EQ(select->proxies[3].type, "URLTest");

    for (const auto& [name, type] : {std::pair{"Auto", GroupType::urlTest},
                                     {"Fallback", GroupType::fallback},
                                     {"Balance", GroupType::loadBalance}}) {
        const ProxyGroup* group = findGroup(groups, name);
        ASSERT_TRUE(group) << name;
        EXPECT_EQ(group->type, type) << name;
    }
    EXPECT_EQ(findGroup(groups, "Auto")->testURL, delayUrl());
    EXPECT_EQ(memberNames(*findGroup(groups, "Fallback")), (QStringList{"provided-1", "provided-2"}));
    // The kernel's own GLOBAL group is listed too; plain nodes are not groups.
    EXPECT_TRUE(findGroup(groups, "GLOBAL"));
    EXPECT_FALSE(findGroup(groups, "direct-a"));

    // A name with "/", "#" and a blank reaches the kernel as one segment.
    test::await(client().selectProxy(selectGroup, "direct-b"));
    groups = test::await(client().proxyGroups());
    EXPECT_EQ(findGroup(groups, selectGroup)->selectedProxyName, "direct-b");

    EXPECT_EQ(test::errorText<MihomoClientError>(client().selectProxy("Balance", "direct-a")),
              "Mihomo: Must be a Selector (HTTP 400)");
    EXPECT_EQ(refusalStatus(client().selectProxy(selectGroup, "provided-1")), 400);
    EXPECT_EQ(refusalStatus(client().selectProxy("No Such Group", "x")), 404);

    const auto delay = test::await(client().testDelay("direct-a", delayUrl(), 2000));
    ASSERT_TRUE(delay);
    EXPECT_GE(*delay, 25);
    const int dead = refusalStatus(client().testDelay("dead", delayUrl(), 1000));
    EXPECT_TRUE(dead == 503 || dead == 504) << dead;

    const QMap<QString, qint64> delays = test::await(client().testGroupDelay("Auto", std::nullopt, 3000));
    EXPECT_EQ(delays.keys(), (QStringList{"direct-a", "direct-b"}));
    for (const qint64 value : delays)
        EXPECT_GE(value, 25);

    // The tests are in the members' histories now, the failed one as 0.
    groups = test::await(client().proxyGroups());
    select = findGroup(groups, selectGroup);
    ASSERT_TRUE(select);
    ASSERT_TRUE(select->proxies[0].delay);
    EXPECT_GE(*select->proxies[0].delay, 25);
    EXPECT_EQ(select->proxies[2].delay, 0);
    EXPECT_EQ(delayLevel(*select->proxies[2].delay), DelayLevel::timeout);
}

TEST_F(MihomoClientKernelTest, ProvidersAndRules)
{
    const QList<ProxyProvider> providers = test::await(client().proxyProviders());
    const auto provider = std::find_if(providers.begin(), providers.end(),
                                       [](const ProxyProvider& p) { return p.name == "file-provider"; });
    ASSERT_NE(provider, providers.end());
    EXPECT_EQ(provider->type, "Proxy");
    EXPECT_EQ(provider->vehicleType, "File");
    EXPECT_FALSE(provider->updatedAt.isEmpty());
    EXPECT_EQ(provider->subscriptionInfo, std::nullopt);
    ASSERT_EQ(provider->proxies.size(), 2);
    EXPECT_EQ(provider->proxies[0], (ProxyNode{"provided-1", "Direct", std::nullopt, true, false}));

    // The kernel starts the checks and answers at once, with no body.
    EXPECT_EQ(test::await(client().healthCheckProvider("file-provider")), (QMap<QString, qint64>{}));
    ASSERT_TRUE(test::waitFor(
        [&] {
            const QList<ProxyProvider> checked = test::await(client().proxyProviders());
            for (const ProxyProvider& p : checked) {
                if (p.name == "file-provider")
                    return p.proxies.value(0).delay.value_or(0) >= 25;
            }
            return false;
        },
        10s));
    test::await(client().updateProxyProvider("file-provider"));
    EXPECT_EQ(refusalStatus(client().updateProxyProvider("missing provider")), 404);

    const QList<RuleProviderItem> ruleProviders = test::await(client().ruleProviders());
    ASSERT_EQ(ruleProviders.size(), 1);
    const RuleProviderItem& rules = ruleProviders[0];
    EXPECT_EQ(QStringList({rules.name, rules.behavior, rules.vehicleType, rules.type}),
              QStringList({"local-rules", "Domain", "File", "Rule"}));
    EXPECT_EQ(rules.ruleCount, 3);
    EXPECT_FALSE(rules.format.isEmpty());
    test::await(client().updateRuleProvider("local-rules"));

    // Nothing has matched yet.
    EXPECT_TRUE(test::await(client().ruleHitCounts()).isEmpty());
}

TEST_F(MihomoClientKernelTest, ConnectionsThroughTheMixedPort)
{
    const auto done = throughKernel("/hello");
    ASSERT_TRUE(test::waitFor([&] { return done->isFinished(); }));
    EXPECT_EQ(done->readAll(), "hello");
    // The IP-CIDR rule (index 1) sent it to the selector.
    EXPECT_EQ(test::await(client().ruleHitCounts()).value(1), 1);

    auto held = throughKernel("/hold");
    std::optional<ConnectionItem> connection;
    ASSERT_TRUE(test::waitFor([&] {
        connection = originConnection(test::await(client().connections()));
        return connection.has_value();
    }));
    EXPECT_EQ(connection->chains, (QStringList{"direct-a", selectGroup}));
    EXPECT_EQ(connection->chainDescription(), selectGroup + " \u2192 direct-a");
    EXPECT_EQ(QStringList({connection->rule, connection->rulePayload, connection->metadata.network,
                           connection->metadata.type, connection->metadata.destinationIP}),
              QStringList({"IPCIDR", "127.0.0.0/8", "tcp", "HTTP", "127.0.0.1"}));
    EXPECT_EQ(connection->destination(), "127.0.0.1:" + QString::number(m_origin.port()));
    EXPECT_GT(connection->upload, 0);
    EXPECT_LT(std::abs(connection->duration()), 30.0);

    test::await(client().closeConnection(connection->id));
    ASSERT_TRUE(test::waitFor([&] { return held->isFinished(); }));
    EXPECT_NE(held->error(), QNetworkReply::NoError);
    EXPECT_FALSE(originConnection(test::await(client().connections())));

    auto first = throughKernel("/hold");
    auto second = throughKernel("/hold");
    ASSERT_TRUE(test::waitFor([&] { return test::await(client().connections()).size() >= 2; }));
    test::await(client().closeAllConnections());
    ASSERT_TRUE(test::waitFor([&] { return first->isFinished() && second->isFinished(); }));
    EXPECT_TRUE(test::await(client().connections()).isEmpty());
}

TEST_F(MihomoClientKernelTest, StreamsDeliverDecodedElements)
{
    auto traffic = client().trafficStream();
    auto memory = client().memoryStream();
    auto connections = client().connectionsStream();
    auto logs = client().logsStream("info");
    ASSERT_TRUE(test::waitFor([&] { return logs->isOpen() && connections->isOpen(); }));

    auto held = throughKernel("/hold");
    QList<MemorySnapshot> memorySamples;
    QList<TrafficSnapshot> trafficSamples;
    bool sawConnection = false;
    QList<LogEntry> entries;
    ASSERT_TRUE(test::waitFor(
        [&] {
            memorySamples += memory->takeAll();
            trafficSamples += traffic->takeAll();
            for (const ConnectionSnapshot& snapshot : connections->takeAll())
                sawConnection |=
                    originConnection(snapshot.connections).has_value() && snapshot.activeCount >= 1;
            entries += logs->takeAll();
            const bool logged = std::any_of(entries.begin(), entries.end(), [](const LogEntry& e) {
                return e.message.contains("match IPCIDR");
            });
            return memorySamples.size() >= 2 && !trafficSamples.isEmpty() && sawConnection && logged;
        },
        15s))
        << memorySamples.size() << " memory, " << trafficSamples.size() << " traffic, " << entries.size()
        << " logs";
    EXPECT_GT(memorySamples.last().inUse, 0);
    EXPECT_EQ(entries.first().level, "info");
    EXPECT_TRUE(entries.first().time.has_value());
    EXPECT_FALSE(traffic->isFinished());

    // When the kernel goes away every stream ends with an error; the client does not reconnect.
    m_kernel->stop();
    ASSERT_TRUE(test::waitFor([&] {
        return traffic->isFinished() && memory->isFinished() && connections->isFinished() &&
               logs->isFinished();
    }));
    EXPECT_TRUE(traffic->error());
}
