#include "controller/MihomoClient.h"
#include "controller/MihomoClientError.h"
#include "controller/NetworkError.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// A local WebSocket server standing in for the controller's streams: it records the opening request and
// the close code each client sent on the wire.
class StreamServer
{
public:
    StreamServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QWebSocketServer::newConnection, [this] {
            while (QWebSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(&m_server);
                m_sockets.append(socket);
                m_requests.append(socket->request());
                QObject::connect(socket, &QWebSocket::disconnected,
                                 [this, socket] { m_closeCodes.append(socket->closeCode()); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QWebSocket* socket(int index) const { return m_sockets.value(index); }
    const QList<QNetworkRequest>& requests() const { return m_requests; }
    const QList<QWebSocketProtocol::CloseCode>& closeCodes() const { return m_closeCodes; }

private:
    QList<QWebSocket*> m_sockets;
    QList<QNetworkRequest> m_requests;
    QList<QWebSocketProtocol::CloseCode> m_closeCodes;
    // Last, so that it goes first: its sockets still record their close codes as they are torn down.
    QWebSocketServer m_server{"controller", QWebSocketServer::NonSecureMode};
};

class ControllerStreamTest : public ::testing::Test
{
protected:
    MihomoClient client(const QString& secret) const
    {
        return MihomoClient(ControllerEndpoint{"127.0.0.1", m_server.port(), secret}, nullptr);
    }

    StreamServer m_server;
};

} // namespace

TEST_F(ControllerStreamTest, SendsTokenAndHeaderAndDecodesObjectMessages)
{
    auto stream = client("s3cret").logsStream("debug");
    ASSERT_TRUE(test::waitFor([&] { return stream->isOpen() && m_server.socket(0); }));
    const QNetworkRequest& request = m_server.requests().value(0);
    EXPECT_EQ(request.url().path(), "/logs");
    const QUrlQuery query(request.url());
    EXPECT_EQ(query.queryItemValue("level"), "debug");
    EXPECT_EQ(query.queryItemValue("token"), "s3cret");
    EXPECT_EQ(request.rawHeader("Authorization"), "Bearer s3cret");

    QWebSocket* server = m_server.socket(0);
    server->sendTextMessage(R"({"type": "info", "payload": "first"})");
    server->sendTextMessage("[1, 2]");
    server->sendTextMessage("not json");
    server->sendBinaryMessage(R"({"type": "error", "payload": "second"})");
    server->sendBinaryMessage("{\"payload\": \"\xff\"}");
    server->sendTextMessage(R"({"type": "warning", "payload": "third"})");

    QStringList messages;
    while (messages.size() < 3) {
        const auto entry = test::await(stream->next(5s));
        ASSERT_TRUE(entry) << "only " << messages.size() << " elements arrived";
        messages.append(entry->level + ':' + entry->message);
    }
    EXPECT_EQ(messages, (QStringList{"info:first", "error:second", "warning:third"}));
    // Nothing more is queued: the bound passes with no element.
    EXPECT_EQ(test::await(stream->next(50ms)), std::nullopt);
    EXPECT_FALSE(stream->isFinished());
}

TEST_F(ControllerStreamTest, DroppingTheStreamClosesWithGoingAway)
{
    auto traffic = client("s").trafficStream();
    auto memory = client("s").memoryStream();
    ASSERT_TRUE(test::waitFor([&] { return m_server.socket(1) && traffic->isOpen() && memory->isOpen(); }));

    m_server.socket(0)->sendTextMessage(R"({"up": 1, "down": 2})");
    ASSERT_TRUE(test::waitFor([&] { return !traffic->takeAll().isEmpty() || !memory->takeAll().isEmpty(); }));

    traffic.reset();
    memory.reset();
    ASSERT_TRUE(test::waitFor([&] { return m_server.closeCodes().size() == 2; }));
    EXPECT_EQ(m_server.closeCodes(),
              (QList<QWebSocketProtocol::CloseCode>{QWebSocketProtocol::CloseCodeGoingAway,
                                                    QWebSocketProtocol::CloseCodeGoingAway}));
}

TEST_F(ControllerStreamTest, DroppingWhileAConsumerWaitsEndsTheWait)
{
    auto stream = client("s").connectionsStream();
    ASSERT_TRUE(test::waitFor([&] { return stream->isOpen(); }));
    bool ended = false;
    std::optional<ConnectionSnapshot> element{ConnectionSnapshot{}};
    const auto consume = [](ControllerStream<ConnectionSnapshot>* s, bool* done,
                            std::optional<ConnectionSnapshot>* out) -> QCoro::Task<> {
        *out = co_await s->next(10s);
        *done = true;
    };
    consume(stream.get(), &ended, &element);
    stream.reset();
    ASSERT_TRUE(test::waitFor([&] { return ended; }, 2s));
    EXPECT_EQ(element, std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return m_server.closeCodes().size() == 1; }));
    EXPECT_EQ(m_server.closeCodes().first(), QWebSocketProtocol::CloseCodeGoingAway);
}

TEST_F(ControllerStreamTest, EndsWithTheErrorWhenTheKernelCloses)
{
    auto stream = client("").trafficStream();
    ASSERT_TRUE(test::waitFor([&] { return stream->isOpen(); }));
    const QNetworkRequest request = m_server.requests().value(0);
    EXPECT_FALSE(QUrlQuery(request.url()).hasQueryItem("token"));
    EXPECT_FALSE(request.hasRawHeader("Authorization"));

    m_server.socket(0)->sendTextMessage(R"({"up": 7, "down": 8})");
    m_server.socket(0)->close(QWebSocketProtocol::CloseCodeNormal);
    ASSERT_TRUE(test::waitFor([&] { return stream->isFinished(); }));
    // Elements that arrived first are still delivered, then the error.
    const auto last = test::await(stream->next(1s));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->upload, 7);
    try {
        test::await(stream->next(1s));
        ADD_FAILURE() << "a finished stream must rethrow its error";
    } catch (const NetworkError& error) {
        EXPECT_EQ(error.code(), QAbstractSocket::RemoteHostClosedError);
    }
}

TEST_F(ControllerStreamTest, RefusedOrUnaddressableStreamsFinishWithTheirError)
{
    // The kernel answers an unauthenticated upgrade with 401 instead of switching protocols.
    test::TestHttpServer refusing([](const test::HttpRequest&) {
        return test::HttpResponse{401, {}, R"({"message":"Unauthorized"})", false};
    });
    const MihomoClient c(ControllerEndpoint{"127.0.0.1", refusing.port(), "wrong"}, nullptr);
    auto refused = c.memoryStream();
    ASSERT_TRUE(test::waitFor([&] { return refused->isFinished(); }));
    EXPECT_FALSE(refused->isOpen());
    EXPECT_THROW(std::rethrow_exception(refused->error()), NetworkError);

    auto unaddressable = MihomoClient(ControllerEndpoint{"bad host", 1, ""}, nullptr).trafficStream();
    bool finishedSignal = false;
    QObject::connect(unaddressable.get(), &ControllerStreamBase::finished, [&] { finishedSignal = true; });
    ASSERT_TRUE(test::waitFor([&] { return finishedSignal; }));
    EXPECT_EQ(test::errorText<MihomoClientError>([&] { std::rethrow_exception(unaddressable->error()); }),
              "Invalid controller address: bad host:1");
}

TEST_F(ControllerStreamTest, HandshakeTimeoutLetsTheConsumerDropTheStream)
{
    // A server that reads the upgrade request and never answers it.
    test::TestHttpServer silent([](const test::HttpRequest&) {
        return test::HttpResponse{200, {}, {}, true};
    });
    auto stream = std::make_unique<ControllerStream<TrafficSnapshot>>(
        QNetworkRequest(QUrl(QStringLiteral("ws://127.0.0.1:%1/traffic").arg(silent.port()))),
        &TrafficSnapshot::fromJson, nullptr, 100ms);
    std::exception_ptr error;
    // The consumer lets go of the stream the moment it ends, as the stores do.
    QObject::connect(stream.get(), &ControllerStreamBase::finished, [&] {
        error = stream->error();
        stream.reset();
    });
    ASSERT_TRUE(test::waitFor([&] { return !stream; }, 5s));
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const NetworkError& networkError) {
        EXPECT_EQ(networkError.code(), QAbstractSocket::SocketTimeoutError);
        EXPECT_EQ(networkError.systemDescription(), "The WebSocket handshake timed out");
    }
}
