#include "HelperClient.h"

#include "helper/HelperProtocol.h"
#include "platform/HelperSocketPath.h"
#include "platform/Logging.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocalSocket>
#include <QMutexLocker>
#include <QTimer>
#include <limits>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>
#include <sys/stat.h>

namespace tarnwick {

namespace {

using namespace std::chrono_literals;
namespace Key = HelperProtocol::Key;

constexpr int kConnectBoundMs = 1000;
constexpr auto kLaunchPollInterval = 50ms;

QString unknownError()
{
    return QStringLiteral("Unknown error");
}

bool existsAsNonSocket(const QString& path)
{
    struct stat info
    {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISSOCK(info.st_mode);
}

QJsonObject startKernelRequest(const QString& executablePath, const QStringList& arguments,
                               const QMap<QString, QString>& environment, const QString& logFile)
{
    QJsonObject variables;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        variables.insert(it.key(), it.value());
    return QJsonObject{{Key::executablePath, executablePath},
                       {Key::arguments, QJsonArray::fromStringList(arguments)},
                       {Key::environment, variables},
                       {Key::logFile, logFile}};
}

QJsonObject stopKernelRequest(qint32 pid)
{
    return QJsonObject{{Key::pid, pid}};
}

QJsonObject installUpdateRequest(const QString& sourcePath, const QString& targetPath)
{
    return QJsonObject{{Key::sourcePath, sourcePath}, {Key::targetPath, targetPath}};
}

QJsonObject commandRequest(const QString& command, const QStringList& arguments)
{
    return QJsonObject{{Key::command, command}, {Key::arguments, QJsonArray::fromStringList(arguments)}};
}

// A (bool, error text) reply: nothing when it succeeded, else the text to fail with.
std::optional<QString> refusal(const QJsonObject& reply, const QString& fallback)
{
    if (reply.value(Key::success).toBool())
        return std::nullopt;
    const QString error = reply.value(Key::error).toString();
    return error.isEmpty() ? fallback : error;
}

} // namespace

void ResumeState::resume(const QJsonObject& reply)
{
    if (!claim())
        return;
    m_reply = reply;
    Q_EMIT resumed();
}

void ResumeState::resume(const HelperClientError& error)
{
    if (!claim())
        return;
    m_error = error;
    Q_EMIT resumed();
}

QJsonObject ResumeState::result() const
{
    if (m_error)
        throw *m_error;
    return m_reply;
}

bool ResumeState::claim()
{
    if (m_resumed)
        return false;
    m_resumed = true;
    return true;
}

HelperClient::HelperClient(QObject* parent)
    : HelperClient(HelperRegistration::defaultOptions(), Timeouts{}, parent)
{}

HelperClient::HelperClient(HelperRegistration::Options registration, Timeouts timeouts, QObject* parent)
    : QObject(parent), m_registration(std::move(registration)), m_timeouts(timeouts)
{}

HelperClient::~HelperClient()
{
    // The waiting calls resume later from the event loop and find the client gone.
    dropConnection();
    const auto pending = std::exchange(m_pending, {});
    for (const Pending& call : pending)
        call.state->resume(HelperClientError::connectionFailed());
}

QCoro::Task<qint32> HelperClient::startKernel(QString executablePath, QStringList arguments,
                                              QMap<QString, QString> environment, QString logFile)
{
    const QJsonObject reply = co_await call(
        HelperProtocol::startKernel, startKernelRequest(executablePath, arguments, environment, logFile),
        m_timeouts.startKernel);
    const qint64 pid = reply.value(Key::pid).toInteger(-1);
    const QString error = reply.value(Key::error).toString();
    if (!error.isEmpty() && pid < 0)
        throw HelperClientError::helperError(error);
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        throw HelperClientError::helperError(unknownError());
    co_return static_cast<qint32>(pid);
}

QCoro::Task<> HelperClient::stopKernel(qint32 pid)
{
    const QJsonObject reply =
        co_await call(HelperProtocol::stopKernel, stopKernelRequest(pid), m_timeouts.stopKernel);
    if (const std::optional<QString> error = refusal(reply, unknownError()))
        throw HelperClientError::helperError(*error);
}

QCoro::Task<> HelperClient::runSystemCommand(QString command, QStringList arguments)
{
    const QJsonObject reply = co_await call(HelperProtocol::runSystemCommand,
                                            commandRequest(command, arguments), m_timeouts.runSystemCommand);
    if (const std::optional<QString> error = refusal(reply, unknownError()))
        throw HelperClientError::helperError(*error);
}

QCoro::Task<std::optional<QString>> HelperClient::waitForKernelExit(qint32 pid,
                                                                    std::chrono::milliseconds bound)
{
    const QJsonObject request{{Key::pid, pid}, {Key::waitMs, static_cast<qint64>(bound.count())}};
    const QJsonObject reply =
        co_await call(HelperProtocol::waitForKernelExit, request, bound + m_timeouts.getVersion);
    if (!reply.contains(Key::exited)) {
        const QString error = reply.value(Key::error).toString();
        throw HelperClientError::helperError(error.isEmpty() ? unknownError() : error);
    }
    if (!reply.value(Key::exited).toBool())
        co_return std::nullopt;
    co_return reply.value(Key::status).toString();
}

QCoro::Task<QString> HelperClient::getVersion()
{
    const QJsonObject reply = co_await call(HelperProtocol::getVersion, QJsonObject(), m_timeouts.getVersion);
    const QString version = reply.value(Key::version).toString();
    if (version.isEmpty()) {
        const QString error = reply.value(Key::error).toString();
        throw HelperClientError::helperError(error.isEmpty() ? unknownError() : error);
    }
    co_return version;
}

QCoro::Task<bool> HelperClient::installUpdate(QString sourcePath, QString targetPath)
{
    const QJsonObject reply =
        co_await call(HelperProtocol::installUpdate, installUpdateRequest(sourcePath, targetPath),
                      m_timeouts.installUpdate);
    if (const std::optional<QString> error = refusal(reply, QStringLiteral("Install failed")))
        throw HelperClientError::helperError(*error);
    co_return true;
}

QCoro::Task<bool> HelperClient::exitForUpdate()
{
    const QJsonObject reply =
        co_await call(HelperProtocol::exitForUpdate, QJsonObject(), m_timeouts.exitForUpdate);
    const bool agreed = reply.value(Key::success).toBool();
    if (!agreed)
        qCInfo(lcHelper, "The helper will not exit for the update: %s",
               qUtf8Printable(reply.value(Key::error).toString()));
    co_return agreed;
}

QCoro::Task<HelperStatus> HelperClient::checkStatus()
{
    if (!isRegistered())
        co_return HelperStatus::notRegistered;
    QString version;
    try {
        version = co_await getVersion();
    } catch (const std::exception& error) {
        qCWarning(lcHelper, "Helper unreachable: %s", qUtf8Printable(describe(error)));
        co_return HelperStatus::unreachable;
    }
    if (version != expectedVersion()) {
        qCInfo(lcHelper, "Helper version %s, expected %s", qUtf8Printable(version),
               qUtf8Printable(expectedVersion()));
        co_return HelperStatus::outdated;
    }
    co_return HelperStatus::ok;
}

bool HelperClient::isRegistered() const
{
    return m_registration.status() == HelperRegistrationStatus::enabled;
}

QCoro::Task<> HelperClient::registerHelper()
{
    // The new helper gets a new connection; the registration runs on a copy that outlives this client.
    dropConnection();
    HelperRegistration registration = m_registration;
    bool registered = true;
    try {
        co_await registration.registerService();
    } catch (const std::exception& error) {
        registered = false;
        qCWarning(lcHelper, "Helper registration failed: %s", qUtf8Printable(describe(error)));
    }
    if (!registered || registration.status() == HelperRegistrationStatus::requiresApproval) {
        qCWarning(lcHelper,
                  "The helper is not running: install it with \"tarnwick-helper --install\" (the "
                  "systemd user unit %s)",
                  qUtf8Printable(HelperRegistration::unitName));
    }
}

QCoro::Task<> HelperClient::unregisterHelper()
{
    dropConnection();
    HelperRegistration registration = m_registration;
    co_await registration.unregisterService();
}

QString HelperClient::expectedVersion()
{
    return QStringLiteral(TARNWICK_VERSION);
}

QCoro::Task<QJsonObject> HelperClient::call(QString operation, QJsonObject request,
                                            std::chrono::milliseconds timeout)
{
    QPointer<HelperClient> self(this);
    QLocalSocket* socket = co_await connection();
    if (!self)
        throw HelperClientError::connectionFailed();

    const qint64 id = ++m_nextRequestId;
    request.insert(Key::id, id);
    request.insert(Key::operation, operation);
    const std::optional<QByteArray> frame = IPCFrame::encode(request);
    if (!frame)
        throw HelperClientError::helperError(QStringLiteral("Request too large"));

    const auto state = std::make_shared<ResumeState>();
    m_pending.insert(id, Pending{socket, state});
    QTimer::singleShot(timeout, state.get(), [guard = state.get()] {
        guard->resume(HelperClientError::helperError(HelperClientError::timedOutMessage()));
    });
    socket->write(*frame);

    if (!state->isResumed())
        co_await qCoro(state.get(), &ResumeState::resumed);
    if (self)
        m_pending.remove(id);
    co_return state->result();
}

QCoro::Task<QLocalSocket*> HelperClient::connection()
{
    if (QLocalSocket* socket = cachedConnection())
        co_return socket;
    const QString path = socketPath();
    if (existsAsNonSocket(path)) {
        qCWarning(lcHelper, "The helper socket path %s exists and is not a socket", qUtf8Printable(path));
        throw HelperClientError::connectionFailed();
    }
    if (m_registration.mode() != HelperRegistration::Mode::selfStart ||
        m_registration.status() != HelperRegistrationStatus::enabled)
        throw HelperClientError::connectionFailed();

    // No helper listens yet: start it, once however many calls are waiting, and wait for its socket.
    if (!m_launchingHelper) {
        if (!m_registration.launchHelper())
            throw HelperClientError::connectionFailed();
        m_launchingHelper = true;
    }
    QPointer<HelperClient> self(this);
    const std::chrono::milliseconds bound = m_timeouts.helperLaunch;
    const QDeadlineTimer deadline(bound);
    while (!deadline.hasExpired()) {
        co_await QCoro::sleepFor(kLaunchPollInterval);
        if (!self)
            throw HelperClientError::connectionFailed();
        QLocalSocket* socket = nullptr;
        try {
            socket = cachedConnection();
        } catch (const HelperClientError&) {
            m_launchingHelper = false;
            throw;
        }
        if (socket) {
            m_launchingHelper = false;
            co_return socket;
        }
    }
    m_launchingHelper = false;
    qCWarning(lcHelper, "The helper did not listen on %s within %lld ms", qUtf8Printable(path),
              static_cast<long long>(bound.count()));
    throw HelperClientError::connectionFailed();
}

QLocalSocket* HelperClient::cachedConnection()
{
    QMutexLocker lock(&m_connectionLock);
    if (m_connection && m_connection->state() == QLocalSocket::ConnectedState)
        return m_connection;

    // The controller secret goes over this connection: only to a helper of this user's or root's.
    if (const std::optional<QString> reason =
            HelperSocketPath::distrust(QFileInfo(socketPath()).absolutePath())) {
        qCWarning(lcHelper, "%s", qUtf8Printable(*reason));
        throw HelperClientError::connectionFailed(*reason);
    }
    auto* socket = new QLocalSocket(this);
    socket->connectToServer(socketPath());
    if (socket->state() != QLocalSocket::ConnectedState && !socket->waitForConnected(kConnectBoundMs)) {
        socket->abort();
        socket->deleteLater();
        return nullptr;
    }
    if (const std::optional<QString> reason =
            HelperSocketPath::distrustPeer(static_cast<int>(socket->socketDescriptor()), socketPath())) {
        socket->abort();
        socket->deleteLater();
        qCWarning(lcHelper, "%s", qUtf8Printable(*reason));
        throw HelperClientError::connectionFailed(*reason);
    }
    m_reader = IPCFrame::Reader();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readReplies(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { connectionLost(socket); });
    connect(socket, &QLocalSocket::errorOccurred, this, [this, socket] { connectionLost(socket); });
    m_connection = socket;
    return socket;
}

void HelperClient::readReplies(QLocalSocket* socket)
{
    if (socket != m_connection)
        return;
    m_reader.append(socket->readAll());
    while (const std::optional<QByteArray> payload = m_reader.next()) {
        const std::optional<QJsonObject> reply = IPCFrame::decode(*payload);
        if (!reply) {
            qCWarning(lcHelper, "The helper sent a frame without a JSON object");
            socket->abort();
            return;
        }
        // A reply whose call already timed out finds nobody waiting.
        const auto it = m_pending.find(reply->value(Key::id).toInteger(-1));
        if (it == m_pending.end())
            continue;
        const std::shared_ptr<ResumeState> state = it->state;
        m_pending.erase(it);
        state->resume(*reply);
    }
    if (m_reader.failed()) {
        qCWarning(lcHelper, "The helper sent a frame of a rejected length");
        socket->abort();
    }
}

void HelperClient::connectionLost(QLocalSocket* socket)
{
    {
        QMutexLocker lock(&m_connectionLock);
        if (m_connection == socket)
            m_connection = nullptr;
    }
    socket->disconnect(this);
    socket->deleteLater();

    QList<std::shared_ptr<ResumeState>> failed;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->socket == socket) {
            failed.append(it->state);
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    if (!failed.isEmpty())
        qCWarning(lcHelper, "Lost the connection to the helper with %lld calls waiting",
                  static_cast<long long>(failed.size()));
    for (const std::shared_ptr<ResumeState>& state : failed)
        state->resume(HelperClientError::connectionFailed());
}

void HelperClient::dropConnection()
{
    QLocalSocket* socket = nullptr;
    {
        QMutexLocker lock(&m_connectionLock);
        socket = m_connection;
        m_connection = nullptr;
    }
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        connectionLost(socket);
    }
}

} // namespace tarnwick
