#include "AppSocketListener.h"

#include "platform/Error.h"
#include "platform/IPCFrame.h"
#include "platform/Logging.h"
#include "platform/UnixSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace tarnwick {

namespace {

constexpr int kBacklog = 5;

} // namespace

// One accepted client: collects one request frame within the time-out, has the handler answer it, writes
// the response as one frame and closes.
class AppSocketListener::Connection final : public QObject
{
public:
    Connection(int fd, std::chrono::milliseconds timeout,
               std::function<void(Connection*, AppCommand)> onRequest, AppSocketListener* listener)
        : QObject(listener), m_socket(new QLocalSocket(this)), m_timeout(timeout),
          m_onRequest(std::move(onRequest))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { drop(); });
        connect(m_socket, &QLocalSocket::disconnected, this, [this] {
            if (!m_answering)
                drop();
            else
                deleteLater();
        });
        connect(this, &QObject::destroyed, listener, &AppSocketListener::connectionEnded);
        if (!m_socket->setSocketDescriptor(fd)) {
            qCWarning(lcIPC, "IPC: cannot serve a connection: %s", qUtf8Printable(m_socket->errorString()));
            ::close(fd);
            deleteLater();
            return;
        }
        connect(m_socket, &QLocalSocket::readyRead, this, [this] { readRequest(); });
        m_deadline.start(m_timeout);
        readRequest();
    }

    void respond(const AppResponse& response)
    {
        const std::optional<QByteArray> frame = IPCFrame::encode(response.toJson());
        if (frame)
            m_socket->write(*frame);
        else
            qCWarning(lcIPC, "IPC: a response did not fit in one frame");
        m_socket->disconnectFromServer();
        if (m_socket->state() == QLocalSocket::UnconnectedState) {
            deleteLater();
            return;
        }
        // A client that does not take its response is not kept for ever either.
        disconnect(&m_deadline, nullptr, this, nullptr);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            m_socket->abort();
            deleteLater();
        });
        m_deadline.start(m_timeout);
    }

private:
    void readRequest()
    {
        if (m_answering)
            return;
        m_reader.append(m_socket->readAll());
        const std::optional<QByteArray> payload = m_reader.next();
        if (!payload) {
            if (m_reader.failed())
                drop();
            return;
        }
        const std::optional<QJsonObject> object = IPCFrame::decode(*payload);
        const std::optional<AppCommand> command = object ? AppCommand::decode(*object) : std::nullopt;
        if (!command) {
            drop();
            return;
        }
        m_answering = true;
        m_deadline.stop();
        m_onRequest(this, *command);
    }

    void drop()
    {
        if (m_dropped)
            return;
        m_dropped = true;
        qCDebug(lcIPC, "IPC: bad frame, dropped");
        m_deadline.stop();
        m_socket->abort();
        deleteLater();
    }

    QLocalSocket* m_socket;
    std::chrono::milliseconds m_timeout;
    std::function<void(Connection*, AppCommand)> m_onRequest;
    IPCFrame::Reader m_reader;
    QTimer m_deadline;
    bool m_answering = false;
    bool m_dropped = false;
};

QString AppSocketListener::defaultSocketPath()
{
    const QString configured = qEnvironmentVariable("TARNWICK_APP_SOCKET");
    if (!configured.isEmpty())
        return configured;
    return QDir::homePath() + QStringLiteral("/.config/tarnwick/app.sock");
}

AppSocketListener::AppSocketListener() : AppSocketListener(Options{}) {}

AppSocketListener::AppSocketListener(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{}

AppSocketListener::~AppSocketListener()
{
    stop();
}

bool AppSocketListener::start(Handler handler)
{
    if (m_fd >= 0)
        return true;
    m_handler = std::move(handler);
    const QByteArray path = QFile::encodeName(m_options.socketPath);
    sockaddr_un address{};
    if (!fillSocketAddress(path, address)) {
        qCCritical(lcIPC, "Control socket path is empty or too long: \"%s\"", path.constData());
        return false;
    }
    QDir().mkpath(QFileInfo(m_options.socketPath).absolutePath());
    if (!clearStaleSocket())
        return false;

    const int fd = closeOnExec(::socket(AF_UNIX, SOCK_STREAM, 0), true);
    if (fd < 0) {
        qCCritical(lcIPC, "Failed to create socket");
        return false;
    }
    // Nobody else may connect in the moment between bind and chmod.
    const mode_t previousMask = ::umask(0077);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previousMask);
    if (bound != 0) {
        ::close(fd);
        qCCritical(lcIPC, "Failed to bind socket: %d", bindError);
        return false;
    }
    if (::chmod(path.constData(), 0600) != 0 || ::listen(fd, kBacklog) != 0) {
        qCCritical(lcIPC, "Failed to listen on %s: %s", path.constData(),
                   qUtf8Printable(qt_error_string(errno)));
        ::close(fd);
        ::unlink(path.constData());
        return false;
    }
    struct stat info
    {};
    if (::lstat(path.constData(), &info) == 0) {
        m_device = info.st_dev;
        m_inode = info.st_ino;
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &AppSocketListener::acceptPending);
    qCDebug(lcIPC, "IPC listener started");
    return true;
}

void AppSocketListener::stop()
{
    if (m_fd < 0)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    // Only this listener's own socket: another instance may have taken the path since.
    const QByteArray path = QFile::encodeName(m_options.socketPath);
    struct stat info
    {};
    if (::lstat(path.constData(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode)
        ::unlink(path.constData());
    qCDebug(lcIPC, "IPC listener stopped");
}

bool AppSocketListener::clearStaleSocket()
{
    const QByteArray path = QFile::encodeName(m_options.socketPath);
    struct stat info
    {};
    if (::lstat(path.constData(), &info) != 0)
        return true;
    if (!S_ISSOCK(info.st_mode)) {
        qCCritical(lcIPC, "The control socket path %s exists and is not a socket; remove it",
                   path.constData());
        return false;
    }
    sockaddr_un address{};
    fillSocketAddress(path, address);
    const int probe = closeOnExec(::socket(AF_UNIX, SOCK_STREAM, 0), false);
    const bool answered =
        probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0)
        ::close(probe);
    if (answered) {
        qCCritical(lcIPC, "Another Tarnwick is already listening on %s", path.constData());
        return false;
    }
    ::unlink(path.constData());
    return true;
}

void AppSocketListener::acceptPending()
{
    while (m_fd >= 0 && m_active < m_options.maxConnections) {
        const int fd = closeOnExec(::accept(m_fd, nullptr, nullptr), false);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                qCWarning(lcIPC, "IPC: accept failed: %s", qUtf8Printable(qt_error_string(errno)));
            return;
        }
        const std::optional<PeerCredentials> peer = peerCredentials(fd);
        const std::optional<uid_t> uid = peer ? std::optional<uid_t>(peer->uid) : std::nullopt;
        if (uid != m_options.allowedUid) {
            qCWarning(lcIPC, "IPC: refused a connection from uid %lld",
                      uid ? static_cast<long long>(*uid) : -1LL);
            ::close(fd);
            continue;
        }
        ++m_active;
        new Connection(
            fd, m_options.requestTimeout,
            [this](Connection* connection, AppCommand command) {
                answer(connection, m_handler, std::move(command));
            },
            this);
    }
    // Full: the rest wait in the backlog until a connection ends.
    if (m_notifier)
        m_notifier->setEnabled(m_active < m_options.maxConnections);
}

void AppSocketListener::connectionEnded()
{
    --m_active;
    if (m_notifier && !m_notifier->isEnabled()) {
        m_notifier->setEnabled(true);
        acceptPending();
    }
}

QCoro::Task<> AppSocketListener::answer(QPointer<Connection> connection, Handler handler, AppCommand command)
{
    AppResponse response = AppResponse::failure(QStringLiteral("Internal error"));
    try {
        response = co_await handler(std::move(command));
    } catch (const std::exception& error) {
        qCWarning(lcIPC, "IPC: command failed: %s", qUtf8Printable(describe(error)));
        response = AppResponse::failure(describe(error));
    }
    if (connection)
        connection->respond(response);
}

} // namespace tarnwick
