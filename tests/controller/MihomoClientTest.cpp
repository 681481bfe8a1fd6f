#include "controller/MihomoClient.h"

#include "controller/MihomoClientError.h"
#include "controller/NetworkError.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>

using namespace tarnwick;
using tarnwick::test::HttpRequest;
using tarnwick::test::HttpResponse;
using tarnwick::test::TestHttpServer;

namespace {

HttpResponse jsonResponse(const QByteArray& body, int status = 200)
{
    return HttpResponse{status, {{"Content-Type", "application/json"}}, body, false};
}

// A stand-in controller that answers what the kernel answers for each route, so that the requests the
// client sends and the way it reads the answers can be checked one by one.
HttpResponse fakeController(const HttpRequest& request)
{
    const QByteArray route = request.method + ' ' + request.path;
    if (route == "GET /version")
        return jsonResponse(R"({"meta": true, "version": "v1.19.30"})");
    if (route == "GET /configs")
        return jsonResponse(R"({"mode": "Global", "tun": {"enable": "true"}, "mixed-port": 7890})");
    if (route == "GET /rules")
        return jsonResponse(R"({"rules": [
            {"index": 0, "extra": {"hitCount": 3}},
            {"index": 1, "extra": {"hitCount": 0}},
            {"index": "2", "extra": {"hitCount": "5"}},
            {"extra": {"hitCount": 9}},
            {"index": 4},
            {"index": 5, "extra": {"hitCount": 2.7}}]})");
    if (route == "GET /providers/proxies/ok/healthcheck")
        return jsonResponse(R"({"a": 10, "b": 0})");
    if (route == "GET /providers/proxies/odd/healthcheck")
        return jsonResponse(R"({"a": 10, "b": "12"})");
    if (route == "GET /group/G/delay")
        return jsonResponse(R"({"a": 10, "b": -1, "c": "7", "d": null, "e": 0})");
    if (route == "GET /proxies/slow/delay")
        return jsonResponse(R"({"delay": "250"})");
    return HttpResponse{204, {}, {}, false};
}

class MihomoClientTest : public ::testing::Test
{
protected:
    MihomoClient client(const QString& secret = "s3cret")
    {
        return MihomoClient(ControllerEndpoint{"127.0.0.1", m_server.port(), secret}, &m_network);
    }

    HttpRequest lastRequest() const
    {
        const QList<HttpRequest> requests = m_server.requests();
        EXPECT_FALSE(requests.isEmpty());
        return requests.isEmpty() ? HttpRequest() : requests.last();
    }

    QJsonObject lastBody() const { return QJsonDocument::fromJson(lastRequest().body).object(); }

    QNetworkAccessManager m_network;
    TestHttpServer m_server{fakeController};
};

template <typename E, typename T> std::optional<E> failure(QCoro::Task<T> task)
{
    try {
        test::await(std::move(task));
    } catch (const E& error) {
        return error;
    }
    ADD_FAILURE() << "the call did not fail as expected";
    return std::nullopt;
}

} // namespace

TEST_F(MihomoClientTest, RequestsCarryMethodPathBodyAndBearerSecret)
{
    const MihomoClient c = client();
    EXPECT_EQ(test::await(c.version()), "v1.19.30");
    HttpRequest request = lastRequest();
    EXPECT_EQ(request.headers.value("authorization"), "Bearer s3cret");
    EXPECT_FALSE(request.headers.contains("content-type"));
    EXPECT_TRUE(request.body.isEmpty());

    test::await(c.setMode(OutboundMode::global));
    request = lastRequest();
    EXPECT_EQ(request.method, "PATCH");
    EXPECT_EQ(request.path, "/configs");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    EXPECT_EQ(lastBody(), (QJsonObject{{"mode", "global"}}));

    test::await(c.reloadConfig(false));
    request = lastRequest();
    EXPECT_EQ(request.method + ' ' + request.path + '?' + request.query, "PUT /configs?force=false");
    EXPECT_EQ(lastBody(), (QJsonObject{{"path", ""}, {"payload", ""}}));

    test::await(c.setTunEnabled(true));
    EXPECT_EQ(lastBody(), QJsonDocument::fromJson(R"({"tun": {"enable": true, "stack": "system",
        "auto-route": true, "auto-detect-interface": true}})")
                              .object());

    // The kernel's own routes and effects are checked against the real kernel; an empty JSON body is
    // what the provider update sends.
    test::await(c.updateProxyProvider("my subs"));
    request = lastRequest();
    EXPECT_EQ(request.method + ' ' + request.path, "PUT /providers/proxies/my%20subs");
    EXPECT_EQ(request.body, "{}");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
}

TEST_F(MihomoClientTest, EmptySecretSendsNoAuthorization)
{
    EXPECT_EQ(test::await(client("").version()), "v1.19.30");
    EXPECT_FALSE(lastRequest().headers.contains("authorization"));
}

TEST_F(MihomoClientTest, NamesBecomeSinglePathSegments)
{
    const MihomoClient c = client();
    for (const auto& [name, path] :
         {std::pair{"A/B #1%", "/proxies/A%2FB%20%231%25"},
          {"Proxy", "/proxies/Proxy"},
          {"日本 (JP)!$&'*+,;=:@-._~", "/proxies/%E6%97%A5%E6%9C%AC%20(JP)!$&'*+,;=:@-._~"}}) {
        test::await(c.selectProxy(name, "HK 01"));
        EXPECT_EQ(lastRequest().path, path);
        EXPECT_EQ(lastBody(), (QJsonObject{{"name", "HK 01"}}));
    }
    EXPECT_EQ(MihomoClient::pathSegment("a?b"), "a%3Fb");
}

TEST_F(MihomoClientTest, PatchConfigsSendsOnlyWhatIsGiven)
{
    const MihomoClient c = client();
    test::await(c.patchConfigs(ConfigPatch{}));
    EXPECT_TRUE(m_server.requests().isEmpty());

    ConfigPatch patch;
    patch.mixedPort = 7890;
    patch.tproxyPort = 0;
    patch.logLevel = "debug";
    patch.allowLan = false;
    patch.inboundMptcp = true;
    test::await(c.patchConfigs(patch));
    EXPECT_EQ(lastRequest().method, "PATCH");
    EXPECT_EQ(lastBody(),
              QJsonDocument::fromJson(R"({"mixed-port": 7890, "tproxy-port": 0, "log-level": "debug",
        "allow-lan": false, "inbound-mptcp": true})")
                  .object());
}

TEST_F(MihomoClientTest, LatencyRequests)
{
    const MihomoClient c = client();
    EXPECT_EQ(test::await(c.testDelay("slow", QString(" http://t/generate_204?a=1&b=c+d \n"), 200)), 250);
    HttpRequest request = lastRequest();
    EXPECT_EQ(request.path, "/proxies/slow/delay");
    EXPECT_EQ(request.headers.value("authorization"), "Bearer s3cret");
    QUrlQuery query(QString::fromLatin1(request.query));
    EXPECT_EQ(query.queryItemValue("timeout"), "1000");
    // Fully decoded the way the kernel decodes it: "+" must not turn into a space.
    EXPECT_EQ(query.queryItemValue("url", QUrl::FullyDecoded), "http://t/generate_204?a=1&b=c+d");
    EXPECT_TRUE(request.query.contains("%2B")) << request.query.toStdString();

    // The kernel reports no delay: absent, not zero.
    EXPECT_EQ(test::await(c.testDelay("other", QString("   "), 10000)), std::nullopt);
    query = QUrlQuery(QString::fromLatin1(lastRequest().query));
    EXPECT_EQ(query.queryItemValue("url", QUrl::FullyDecoded), MihomoClient::defaultDelayTestUrl);
    EXPECT_EQ(query.queryItemValue("timeout"), "10000");

    const QMap<QString, qint64> delays = test::await(c.testGroupDelay("G", std::nullopt, 5000));
    EXPECT_EQ(delays, (QMap<QString, qint64>{{"a", 10}, {"c", 7}, {"e", 0}}));
    EXPECT_EQ(lastRequest().path, "/group/G/delay");
}

TEST_F(MihomoClientTest, ResponsesAreReadLeniently)
{
    const MihomoClient c = client();
    // "Global" is not our spelling of a mode; a string "true" is not a boolean.
    EXPECT_EQ(test::await(c.currentMode()), OutboundMode::rule);
    EXPECT_FALSE(test::await(c.isTunEnabled()));
    EXPECT_EQ(test::await(c.configs()).value("mixed-port").toInt(), 7890);
    EXPECT_EQ(test::await(c.ruleHitCounts()), (QMap<int, qint64>{{0, 3}, {2, 5}, {5, 2}}));
    EXPECT_EQ(test::await(c.healthCheckProvider("ok")), (QMap<QString, qint64>{{"a", 10}, {"b", 0}}));
    EXPECT_EQ(test::await(c.healthCheckProvider("odd")), std::nullopt);
    // 204 with an empty body is an empty answer, not an error.
    EXPECT_EQ(test::await(c.healthCheckProvider("quiet")), (QMap<QString, qint64>{}));
    EXPECT_TRUE(test::await(c.proxyGroups()).isEmpty());
    EXPECT_TRUE(test::await(c.connections()).isEmpty());
}

namespace {

// A controller that answers every request with the response the test chose last.
class ScriptedController
{
public:
    ScriptedController()
        : m_server([this](const HttpRequest&) {
              QMutexLocker lock(&m_mutex);
              return m_next;
          })
    {}

    void answer(HttpResponse response)
    {
        QMutexLocker lock(&m_mutex);
        m_next = std::move(response);
    }
    quint16 port() const { return m_server.port(); }
    int requestCount() const { return static_cast<int>(m_server.requests().size()); }

private:
    QMutex m_mutex;
    HttpResponse m_next;
    TestHttpServer m_server;
};

} // namespace

TEST_F(MihomoClientTest, FailuresCarryStatusBodyAndReadableText)
{
    ScriptedController controller;
    const MihomoClient c(ControllerEndpoint{"127.0.0.1", controller.port(), "s"}, &m_network);

    controller.answer(jsonResponse(R"({"message": "Unauthorized"})", 401));
    auto error = failure<MihomoClientError>(c.version());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MihomoClientError::Kind::httpError);
    EXPECT_EQ(error->status(), 401);
    EXPECT_EQ(error->body(), R"({"message": "Unauthorized"})");
    EXPECT_EQ(error->description(), "Mihomo: Unauthorized (HTTP 401)");

    controller.answer(HttpResponse{500, {}, "boom \xff", false});
    error = failure<MihomoClientError>(c.closeAllConnections());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->body(), QString("boom \uFFFD"));
    EXPECT_EQ(error->description(), QString("HTTP 500: boom \uFFFD"));

    controller.answer(HttpResponse{404, {}, {}, false});
    EXPECT_EQ(test::errorText<MihomoClientError>(c.selectProxy("nope", "x")), "HTTP 404: ");

    controller.answer(jsonResponse("<html>"));
    error = failure<MihomoClientError>(c.configs());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MihomoClientError::Kind::invalidResponse);
    EXPECT_TRUE(error->description().startsWith("Invalid response from the controller: "));

    // JSON that is not an object is an empty answer.
    controller.answer(jsonResponse("[1, 2]"));
    EXPECT_EQ(test::await(c.version()), "unknown");

    const int sent = controller.requestCount();
    const MihomoClient badHost(ControllerEndpoint{"bad host", 9090, "s"}, &m_network);
    error = failure<MihomoClientError>(badHost.version());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MihomoClientError::Kind::invalidEndpoint);
    EXPECT_EQ(error->description(), "Invalid controller address: bad host:9090");
    EXPECT_EQ(test::errorText<MihomoClientError>(badHost.testDelay("x", std::nullopt, 1000)),
              "Invalid controller address: bad host:9090");
    EXPECT_EQ(controller.requestCount(), sent);

    const MihomoClient nobody(ControllerEndpoint{"127.0.0.1", test::freePort(), "s"}, &m_network);
    const auto refused = failure<NetworkError>(nobody.version());
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(refused->description(), "Network Error: Connection refused (1)");
}

TEST_F(MihomoClientTest, LatencySessionRunsTwelveAtOnceAndTimesOut)
{
    ScriptedController controller;
    controller.answer(HttpResponse{200, {}, {}, true});
    const MihomoClient c(ControllerEndpoint{"127.0.0.1", controller.port(), ""}, &m_network);

    struct Result
    {
        bool done = false;
        std::optional<NetworkError> error;
    };
    QList<std::shared_ptr<Result>> results;
    const auto run = [](QCoro::Task<std::optional<qint64>> task,
                        std::shared_ptr<Result> result) -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (const NetworkError& error) {
            result->error = error;
        }
        result->done = true;
    };
    for (int i = 0; i < 20; ++i) {
        results.append(std::make_shared<Result>());
        run(c.testDelay(QString("node %1").arg(i), std::nullopt, 1000), results.last());
    }
    ASSERT_TRUE(test::waitFor([&] { return controller.requestCount() == 12; }));
    EXPECT_EQ(c.latencySession()->inFlight(), 12);
    EXPECT_EQ(c.latencySession()->waiting(), 8);
    // Ordinary calls have their own session and are not held up behind the tests.
    controller.answer(jsonResponse(R"({"version": "v"})"));
    EXPECT_EQ(test::await(c.version()), "v");
    controller.answer(HttpResponse{200, {}, {}, true});

    // Nobody answers: each test gives up after its five seconds, and the waiting ones follow.
    ASSERT_TRUE(test::waitFor(
        [&] { return std::all_of(results.begin(), results.end(), [](const auto& r) { return r->done; }); },
        std::chrono::seconds(20)));
    EXPECT_EQ(controller.requestCount(), 21);
    EXPECT_EQ(c.latencySession()->inFlight(), 0);
    for (const auto& result : results) {
        ASSERT_TRUE(result->error);
        EXPECT_EQ(result->error->code(), QNetworkReply::OperationCanceledError)
            << result->error->description().toStdString();
    }
}
