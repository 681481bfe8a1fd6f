// The control socket against hostile and well-behaved clients, through the real Unix socket.
#include "app/AppSocketListener.h"

#include "platform/IPCFrame.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"
#include "support/TestUser.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

QByteArray header(quint32 length)
{
    const char bytes[4] = {char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
    return QByteArray(bytes, 4);
}

QByteArray frame(const QByteArray& json)
{
    return header(quint32(json.size())) + json;
}

// A client that sends bytes and collects everything until the server closes.
struct Client
{
    explicit Client(const QString& path)
    {
        // A client beyond the backlog is connected later; what it sends waits until then.
        QObject::connect(&socket, &QLocalSocket::connected, &socket, [this] { socket.write(pending); });
        socket.connectToServer(path);
    }
    void send(const QByteArray& bytes)
    {
        if (socket.state() == QLocalSocket::ConnectedState)
            socket.write(bytes);
        else
            pending += bytes;
    }
    bool closedByServer(std::chrono::milliseconds bound = 5s)
    {
        return test::waitFor(
            [&] {
                received += socket.readAll();
                return socket.state() == QLocalSocket::UnconnectedState;
            },
            bound);
    }
    std::optional<AppResponse> response() const
    {
        if (received.size() < 4)
            return std::nullopt;
        const std::optional<QJsonObject> object = IPCFrame::decode(received.mid(4));
        return object ? AppResponse::fromJson(*object) : std::nullopt;
    }
    QLocalSocket socket;
    QByteArray pending;
    QByteArray received;
};

class AppSocketListenerTest : public ::testing::Test
{
protected:
    void listen(AppSocketListener::Options options = {})
    {
        options.socketPath = m_path;
        m_listener = std::make_unique<AppSocketListener>(options);
        ASSERT_TRUE(m_listener->start([this](AppCommand command) { return echo(std::move(command)); }));
    }
    // Names the command it was given.
    QCoro::Task<AppResponse> echo(AppCommand command)
    {
        ++m_handled;
        co_return AppResponse::ok({{QStringLiteral("command"), command.name()}});
    }
    bool answersStatus()
    {
        Client client(m_path);
        client.send(frame(R"({"getStatus":{}})"));
        return client.closedByServer() && client.response() &&
               client.response()->data ==
                   QJsonObject{{QStringLiteral("command"), QStringLiteral("getStatus")}};
    }

    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(QStringLiteral(".config/tarnwick/app.sock"));
    std::unique_ptr<AppSocketListener> m_listener;
    int m_handled = 0;
};

} // namespace

TEST_F(AppSocketListenerTest, ServesOneRequestPerConnectionOnAPrivateSocket)
{
    listen();
    struct stat info
    {};
    ASSERT_EQ(::stat(QFile::encodeName(m_path).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    // A second request on the same connection is not read: one request, one response, closed.
    Client client(m_path);
    client.send(frame(R"({"switchProfile":{"name":"Home"}})") + frame(R"({"getStatus":{}})"));
    ASSERT_TRUE(client.closedByServer());
    ASSERT_TRUE(client.response());
    EXPECT_EQ(client.response()->toJson(),
              QJsonDocument::fromJson(R"({"success":true,"data":{"command":"switchProfile"}})").object());
    EXPECT_EQ(m_handled, 1);

    m_listener->stop();
    EXPECT_FALSE(QFileInfo::exists(m_path));
}

TEST_F(AppSocketListenerTest, DropsBadFramesWithoutAnswerAndKeepsServing)
{
    listen();
    const test::LogCapture log(QStringLiteral("app.tarnwick.IPC.debug=true"));
    const struct
    {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"zero-length header", header(0)},
        {"2^20-byte header", header(1u << 20) + QByteArray(64, 'x')},
        {"garbage", QByteArray("\x00\x00\x00\x05garbage-after", 17)},
        {"two keys", frame(R"({"getStatus":{},"getProfiles":{}})")},
        {"unknown command", frame(R"({"formatDisk":{}})")},
        {"missing field", frame(R"({"switchProfile":{}})")},
        {"field of the wrong type", frame(R"({"switchProfile":{"name":7}})")},
        {"not an object", frame(R"(["getStatus"])")},
        {"header, then the client closes", header(40)},
    };
    qsizetype dropped = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Client client(m_path);
        client.send(c.bytes);
        if (QByteArray(c.what).startsWith("header,")) {
            ASSERT_TRUE(test::waitFor([&] { return client.socket.bytesToWrite() == 0; }));
            client.socket.disconnectFromServer();
        }
        ASSERT_TRUE(client.closedByServer());
        EXPECT_EQ(client.received, QByteArray());
        EXPECT_TRUE(
            test::waitFor([&] { return log.count(QStringLiteral("IPC: bad frame, dropped")) > dropped; }));
        dropped = log.count(QStringLiteral("IPC: bad frame, dropped"));
        EXPECT_TRUE(answersStatus());
    }
    EXPECT_EQ(m_handled, int(std::size(cases)));
}

TEST_F(AppSocketListenerTest, StalledClientsNeitherBlockOthersNorStayForEver)
{
    AppSocketListener::Options options;
    options.requestTimeout = 500ms;
    options.maxConnections = 4;
    listen(options);
    // Half a frame, then silence, from as many clients as may be served at once.
    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < options.maxConnections; ++i) {
        stalled.push_back(std::make_unique<Client>(m_path));
        stalled.back()->send(header(100) + "{\"getSt");
    }
    ASSERT_TRUE(test::waitFor([&] { return m_listener->activeConnections() == options.maxConnections; }));
    // A well-formed request waits in the backlog and is answered once the stalled ones time out.
    EXPECT_TRUE(answersStatus());
    for (auto& client : stalled) {
        EXPECT_TRUE(client->closedByServer(1s));
        EXPECT_EQ(client->received, QByteArray());
    }
}

TEST_F(AppSocketListenerTest, TwoHundredClientsAtOnceAreAllAnswered)
{
    AppSocketListener::Options options;
    options.maxConnections = 8;
    listen(options);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<Client>(m_path));
        clients.back()->send(frame(R"({"getProfiles":{}})"));
    }
    for (auto& client : clients) {
        ASSERT_TRUE(client->closedByServer());
        ASSERT_TRUE(client->response());
        EXPECT_TRUE(client->response()->success);
    }
    EXPECT_EQ(m_handled, 200);
    EXPECT_EQ(m_listener->activeConnections(), 0);
}

// The real tool, run as a throw-away second user; only the peer check stands in its way, since the socket
// and its directories are opened to everyone for the test.
TEST_F(AppSocketListenerTest, RefusesTheToolRunByAnotherUser)
{
    TARNWICK_REQUIRE_TEST_USER(user);
    const test::LogCapture log(QStringLiteral("app.tarnwick.IPC.debug=true"));
    listen();
    for (const QString& path : {m_dir.path(), m_dir.filePath(QStringLiteral(".config")),
                                m_dir.filePath(QStringLiteral(".config/tarnwick"))})
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), 0666), 0);

    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNWICK_APP_SOCKET"), m_path);
    tool.setProcessEnvironment(environment);
    user.start(tool, test::binaryDir() + QStringLiteral("/bin/tarnwick"), {QStringLiteral("status")});
    ASSERT_TRUE(test::waitFor([&] { return tool.state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(tool.exitCode(), 1);
    EXPECT_TRUE(tool.readAllStandardError().startsWith("tarnwick: Tarnwick closed the connection"));
    EXPECT_EQ(m_handled, 0);
    EXPECT_EQ(log.count(QStringLiteral("IPC: refused a connection from uid %1").arg(*user.uid())), 1);
    EXPECT_TRUE(answersStatus());
}

TEST_F(AppSocketListenerTest, NeverTakesAPathFromAFileADirectoryOrARunningApplication)
{
    QDir().mkpath(m_path);
    AppSocketListener::Options options;
    options.socketPath = m_path;
    EXPECT_FALSE(AppSocketListener(options).start({}));
    EXPECT_TRUE(QFileInfo(m_path).isDir());
    QDir(m_path).removeRecursively();

    test::writeFile(m_path, "mine");
    EXPECT_FALSE(AppSocketListener(options).start({}));
    EXPECT_EQ(test::readFile(m_path), QStringLiteral("mine"));
    QFile::remove(m_path);

    listen();
    EXPECT_FALSE(AppSocketListener(options).start({}));
    EXPECT_TRUE(answersStatus());
    // A socket left by an application that ended is replaced.
    m_listener.reset();
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, QFile::encodeName(m_path).constData());
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    listen();
    EXPECT_TRUE(answersStatus());
}
