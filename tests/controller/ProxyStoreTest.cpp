#include "controller/ProxyStore.h"

#include "platform/Settings.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QAtomicInt>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

using namespace tarnwick;
using tarnwick::test::HttpRequest;
using tarnwick::test::HttpResponse;

namespace {

const QByteArray providers = R"({"providers": {
    "default": {"type": "Proxy", "vehicleType": "Compatible", "proxies": []},
    "mine": {"type": "Proxy", "vehicleType": "compatible", "proxies": []},
    "remote": {"type": "Proxy", "vehicleType": "HTTP", "proxies": []}}})";

} // namespace

TEST(ProxyStoreTest, PlaceholdersOrderDelaysAndFailures)
{
    QAtomicInt groupsFail = 0;
    // What the kernel answers for a configuration with the groups A and B, and groups it adds or knows
    // besides: selectors, a url-test, a fallback, two groups selecting each other, and nodes with their last
    // test.
    const QByteArray proxies = test::readFile(test::testData("controller/proxy-store-proxies.json")).toUtf8();
    test::TestHttpServer kernel([&](const HttpRequest& request) {
        if (request.path == "/configs")
            return HttpResponse{200, {}, R"({"mode": "global"})", false};
        if (request.path == "/proxies")
            return groupsFail ? HttpResponse{500, {}, "broken", false}
                              : HttpResponse{200, {}, proxies, false};
        return HttpResponse{200, {}, providers, false};
    });
    QTemporaryDir dir;
    test::writeFile(
        dir.filePath("config.json"),
        R"({"proxy-groups": [{"name": "A"}, {"name": "B"}], "proxies": [{"name": "n80"}, {"name": "n95"}],
                        "proxy-providers": {"mine": {"type": "file", "path": "./p.yaml"}}})");
    Settings settings(dir.filePath("settings.ini"));
    QNetworkAccessManager network;
    ProxyStore store(MihomoClient(ControllerEndpoint{"127.0.0.1", kernel.port(), ""}, &network), settings,
                     dir.filePath("config.json"));
    ASSERT_EQ(store.groups().size(), 2);
    EXPECT_EQ(store.groups().at(1).type, GroupType::pending);
    EXPECT_EQ(store.providers().first().vehicleType, "pending");

    test::await(store.refresh());
    EXPECT_EQ(store.mode(), OutboundMode::global);
    QStringList names;
    for (const ProxyGroup& g : store.groups())
        names.append(g.name);
    EXPECT_EQ(names, QStringList({"A", "B", "Alpha", "GLOBAL", "x", "y", "zeta"}));
    names.clear();
    for (const ProxyProvider& p : store.providers())
        names.append(p.name);
    EXPECT_EQ(names, QStringList({"mine", "remote"})) << "the kernel's own compatible provider is hidden";
    EXPECT_EQ(store.localProxies().size(), 2);

    EXPECT_EQ(store.effectiveDelay("B"), 80) << "url-test: the smallest above 0";
    EXPECT_EQ(store.effectiveDelay("zeta"), 300) << "fallback: the first above 0";
    EXPECT_EQ(store.effectiveDelay("A"), 95) << "a selector selecting a selector";
    EXPECT_EQ(store.effectiveDelay("x"), std::nullopt) << "groups selecting each other";
    EXPECT_EQ(store.delayMap().value("A"), 95);

    groupsFail = 1;
    testing::internal::CaptureStdout();
    test::await(store.refresh());
    EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStdout()),
              "\u26A0\uFE0F [ProxyStore] Failed to fetch proxy groups: HTTP 500: broken\n");
    EXPECT_EQ(store.groups().size(), 7) << "a failed refresh keeps the groups";

    store.setHideUnavailableProxies(true);
    EXPECT_TRUE(ProxyStore(MihomoClient(ControllerEndpoint{"127.0.0.1", kernel.port(), ""}, &network),
                           settings, dir.filePath("config.json"))
                    .hideUnavailableProxies());
}
