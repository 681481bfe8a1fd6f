#include "KernelFixture.h"
#include "controller/ConnectionStore.h"
#include "controller/FlowRecorder.h"
#include "controller/LogStore.h"
#include "controller/MihomoClientError.h"
#include "controller/ProxyStore.h"
#include "controller/TrafficStore.h"
#include "platform/Settings.h"

#include <QTemporaryDir>

using namespace tarnwick;
using namespace std::chrono_literals;
using tarnwick::test::HttpRequest;
using tarnwick::test::HttpResponse;

namespace {

class RecordingFlowRecorder final : public FlowRecorder
{
public:
    void recordOpened(const ConnectionItem& item, qint64, const QString&) override { opened.append(item.id); }
    void recordClosed(const ConnectionItem& item) override { closed.append(item.id); }
    QStringList opened;
    QStringList closed;
};

// The stores against the real kernel, whose nodes are real proxies: a second kernel with a socks5 and an
// http listener, and a node on a closed port; a provider served over HTTP.
class StoresKernelTest : public test::KernelFixture
{
protected:
    void SetUp() override
    {
        KernelFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const QString socksPort = QString::number(test::freePort()),
                      httpPort = QString::number(test::freePort());
        m_upstream = std::make_unique<test::KernelProcess>(m_kernelPath);
        const QString upstream =
            QStringLiteral("mixed-port: %1\nbind-address: 127.0.0.1\nmode: direct\n"
                           "listeners:\n"
                           "  - {name: socks-in, type: socks, listen: 127.0.0.1, port: %2}\n"
                           "  - {name: http-in, type: http, listen: 127.0.0.1, port: %3}\n")
                .arg(test::freePort())
                .arg(socksPort, httpPort);
        ASSERT_TRUE(m_upstream->start(upstream.toUtf8())) << m_upstream->output().toStdString();
        m_providerYaml =
            ("proxies:\n  - {name: served-socks, type: socks5, server: 127.0.0.1, port: " + socksPort + "}\n")
                .toUtf8();
        m_profile =
            profile("stores-profile.yaml", {{"@SOCKS_PORT@", socksPort},
                                            {"@HTTP_PORT@", httpPort},
                                            {"@PROVIDER_URL@", m_providerServer.url("/served.yaml")}});
        startKernel(m_profile);
    }

    QByteArray m_providerYaml;
    test::TestHttpServer m_providerServer{[this](const HttpRequest&) {
        return HttpResponse{200, {{"Content-Type", "text/yaml"}}, m_providerYaml, false};
    }};
    std::unique_ptr<test::KernelProcess> m_upstream;
    QByteArray m_profile;
};

} // namespace

TEST_F(StoresKernelTest, TrafficConnectionsAndLogsOfRealRequests)
{
    TrafficStore traffic(*m_client, 60);
    ConnectionStore connections(*m_client);
    RecordingFlowRecorder recorder;
    connections.setFlowRecorder(&recorder);
    LogStore logs(*m_client, 2000);
    traffic.startMonitoring();
    connections.startStreaming();
    logs.startStreaming("info");
    ASSERT_TRUE(traffic.isMonitoring() && connections.isStreaming() && logs.isStreaming());

    // Bytes through the mixed port show in the totals and the history.
    const auto download = throughKernel("/payload");
    ASSERT_TRUE(test::waitFor([&] { return download->isFinished(); }));
    EXPECT_EQ(download->readAll().size(), payloadSize);
    ASSERT_TRUE(test::waitFor([&] { return traffic.totalDownload() >= payloadSize; }, 10s))
        << traffic.totalDownload();
    EXPECT_FALSE(traffic.history().isEmpty());

    // A held connection is listed with its metadata, rule and chain; closing it moves it to the closed list.
    const auto held = throughKernel("/hold");
    const QString originPort = QString::number(m_origin.port());
    const auto heldConnection = [&] { return originConnection(connections.activeConnections()); };
    ASSERT_TRUE(test::waitFor([&] { return heldConnection().has_value(); }));
    const ConnectionItem item = *heldConnection();
    EXPECT_EQ(item.metadata.network, "tcp");
    EXPECT_EQ(item.metadata.type, "HTTP");
    EXPECT_EQ(item.metadata.destinationIP, "127.0.0.1");
    EXPECT_EQ(item.rule, "Match");
    EXPECT_EQ(item.chains, QStringList({"upstream-socks", "Upstream", "Proxy"}));
    EXPECT_EQ(item.chainDescription(), "Proxy \u2192 Upstream \u2192 upstream-socks");
    EXPECT_EQ(connections.activeCount(), connections.activeConnections().size());
    EXPECT_TRUE(recorder.opened.contains(item.id));
    test::await(connections.closeConnection(item.id));
    ASSERT_TRUE(test::waitFor([&] {
        return std::any_of(
            connections.closedConnections().cbegin(), connections.closedConnections().cend(),
            [&](const ConnectionItem& closed) { return closed.id == item.id && closed.isClosed; });
    }));
    EXPECT_FALSE(heldConnection());
    EXPECT_EQ(recorder.closed.count(item.id), 1);

    // The kernel's own log lines for both requests.
    ASSERT_TRUE(test::waitFor([&] {
        return std::count_if(logs.entries().cbegin(), logs.entries().cend(), [&](const LogEntry& entry) {
                   return entry.message.contains(":" + originPort) && entry.message.contains("Proxy");
               }) >= 2;
    })) << LogStore::exportText(logs.entries()).toStdString();
    EXPECT_EQ(logs.entries().first().level, "info");

    // The kernel goes away: the connection stream says so and ends; traffic retries and then gives up.
    traffic.setRetryUnit(20ms);
    testing::internal::CaptureStdout();
    m_kernel->stop();
    ASSERT_TRUE(test::waitFor([&] { return !connections.isStreaming() && !logs.isStreaming(); }));
    EXPECT_TRUE(QString::fromStdString(testing::internal::GetCapturedStdout())
                    .startsWith("[ConnectionStore] Stream ended with error: "));
    EXPECT_TRUE(traffic.isMonitoring()) << "gives up only after the retries";
    ASSERT_TRUE(test::waitFor([&] { return !traffic.isMonitoring(); }, 5s));
    EXPECT_FALSE(connections.closedConnections().isEmpty()) << "the lists keep their content";

    // A kernel that is back during the retries is followed again.
    traffic.setRetryUnit(300ms);
    traffic.startMonitoring();
    ASSERT_TRUE(m_kernel->start(m_profile)) << m_kernel->output().toStdString();
    const qsizetype samples = traffic.history().size();
    ASSERT_TRUE(test::waitFor([&] { return traffic.history().size() > samples + 1; }, 15s));
    EXPECT_TRUE(traffic.isMonitoring());
    traffic.stopMonitoring();
    EXPECT_EQ(traffic.currentDownload(), 0);
    EXPECT_GE(traffic.totalDownload(), payloadSize) << "stopping keeps the totals";
}

TEST_F(StoresKernelTest, ProxyGroupsOverRealNodes)
{
    QTemporaryDir settingsDir;
    Settings settings(settingsDir.filePath("settings.ini"));
    ProxyStore store(*m_client, settings, m_kernel->configPath());
    store.setDefaultTestURL(delayUrl());
    QStringList names;
    for (const ProxyGroup& group : store.groups()) {
        names.append(group.name);
        EXPECT_EQ(group.type, GroupType::pending);
    }
    EXPECT_EQ(names, QStringList({"Proxy", "Upstream", "Auto", "Fallback", "Served", "Hidden"}));
    EXPECT_EQ(store.providers().size(), 1);
    EXPECT_EQ(store.localProxyNames(), QStringList({"upstream-socks", "upstream-http", "dead"}));

    test::await(store.refresh());
    names.clear();
    for (const ProxyGroup& group : store.groups())
        names.append(group.name);
    EXPECT_EQ(names, QStringList({"Proxy", "Upstream", "Auto", "Fallback", "Served", "Hidden", "GLOBAL"}));
    ASSERT_EQ(store.providers().size(), 1) << "the kernel's own compatibility provider is not listed";
    EXPECT_EQ(store.providers().first().name, "served");
    EXPECT_EQ(store.providers().first().vehicleType, "HTTP");
    ASSERT_EQ(store.localProxies().size(), 3);
    EXPECT_EQ(store.localProxies().at(1).name, "upstream-http");
    EXPECT_EQ(store.groups().at(2).type, GroupType::urlTest);

    // Group tests through real nodes; the dead one gets no result and a fallback skips it.
    test::await(store.testGroupDelay("Auto"), 20s);
    EXPECT_GE(store.delayMap().value("upstream-socks"), 1);
    EXPECT_GE(store.delayMap().value("upstream-http"), 1);
    EXPECT_LT(store.delayMap().value("dead", 0), 1);
    EXPECT_TRUE(store.testingGroups().isEmpty());
    EXPECT_EQ(store.effectiveDelay("Proxy"), store.delayMap().value("upstream-socks"))
        << "Proxy selects Upstream, which selects upstream-socks";
    EXPECT_EQ(store.effectiveDelay("Fallback"), store.delayMap().value("upstream-http"));
    EXPECT_EQ(store.delayMap().value("Proxy"), store.delayMap().value("upstream-socks"));

    // A failed node test prints its diagnostic and leaves nothing running.
    testing::internal::CaptureStdout();
    test::await(store.testNodeDelay("dead"), 20s);
    EXPECT_TRUE(QString::fromStdString(testing::internal::GetCapturedStdout())
                    .startsWith("\u26A0\uFE0F [ProxyStore] Node delay test failed for dead: "));
    EXPECT_TRUE(store.testingNodes().isEmpty());

    // Every visible group but GLOBAL, the local proxies, the provider.
    const qsizetype before = m_delayServer.requests().size();
    test::await(store.testAllGroups(), 30s);
    EXPECT_FALSE(store.isBatchTesting());
    EXPECT_GE(store.delayMap().value("served-socks"), 1);
    EXPECT_GT(m_delayServer.requests().size(), before);
    const qsizetype tested = m_delayServer.requests().size();
    test::await(store.testGroupDelay(ProxyStore::localProxiesGroup), 20s);
    EXPECT_FALSE(store.isTestingLocalProxies());
    EXPECT_EQ(m_delayServer.requests().size(), tested + 2) << "the two live local nodes";
    test::await(store.healthCheckProvider("served"), 20s);
    EXPECT_GE(store.delayMap().value("served-socks"), 1);
    const qsizetype fetches = m_providerServer.requests().size();
    test::await(store.updateProvider("served"), 20s);
    EXPECT_EQ(m_providerServer.requests().size(), fetches + 1);
    EXPECT_TRUE(store.updatingProviders().isEmpty());

    // Selecting with auto-disconnect ends the connections through the old member; the setting persists.
    store.setAutoDisconnectOnSwitch(true);
    EXPECT_TRUE(Settings(settingsDir.filePath("settings.ini")).boolean(ProxyStore::autoDisconnectKey, false));
    const auto held = throughKernel("/hold");
    ASSERT_TRUE(test::waitFor([&] {
        const auto requests = m_origin.requests();
        return std::any_of(requests.cbegin(), requests.cend(),
                           [](const HttpRequest& r) { return r.path == "/hold"; });
    }));
    test::await(store.selectProxy("Proxy", "upstream-http"));
    EXPECT_EQ(store.groups().first().selectedProxyName, "upstream-http");
    EXPECT_TRUE(test::waitFor([&] { return held->isFinished(); }));
    EXPECT_THROW(test::await(store.selectProxy("Proxy", "no-such-node")), MihomoClientError);
    EXPECT_EQ(store.groups().first().selectedProxyName, "upstream-http");
    test::await(store.refresh());
    EXPECT_EQ(store.groups().first().selectedProxyName, "upstream-http");

    test::await(store.setMode(OutboundMode::global));
    EXPECT_EQ(store.mode(), OutboundMode::global);
}
