#include "ControllerStream.h"

#include "NetworkError.h"
#include "platform/Logging.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QStringDecoder>
#include <QWebSocket>

namespace tarnwick {

namespace {
// How long a dropped stream's socket may take to send its close frame before it is torn down.
constexpr std::chrono::seconds closeGrace{2};
} // namespace

ControllerStreamBase::~ControllerStreamBase()
{
    if (m_waiter)
        m_waiter->resume();
    if (!m_socket)
        return;
    QWebSocket* socket = m_socket;
    socket->disconnect(this);
    socket->setParent(nullptr);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // The socket outlives the stream until the close frame is on its way.
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(closeGrace, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCodeGoingAway);
}

void ControllerStreamBase::open(const QNetworkRequest& request, std::exception_ptr refusal,
                                std::chrono::milliseconds openTimeout)
{
    if (refusal) {
        QTimer::singleShot(0, this, [this, refusal] { finish(refusal); });
        return;
    }
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    // The controller listens on the loopback; a system proxy must never be asked for it.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QWebSocket::connected, this, [this] {
        m_openTimer.stop();
        m_open = true;
        Q_EMIT opened();
    });
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& message) { receive(message.toUtf8()); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& message) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder.decode(message);
        // Undecodable bytes count as an empty message, which is skipped like any other non-object.
        receive(decoder.hasError() ? QByteArray() : text.toUtf8());
    });
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this](QAbstractSocket::SocketError code) { fail(code, m_socket->errorString()); });
    connect(m_socket, &QWebSocket::disconnected, this, [this] {
        fail(QAbstractSocket::RemoteHostClosedError,
             QStringLiteral("The controller closed the stream (close code %1)")
                 .arg(static_cast<int>(m_socket->closeCode())));
    });
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        // The socket goes quietly first: the consumer may destroy the stream as soon as it hears of the end.
        m_socket->disconnect(this);
        m_socket->abort();
        fail(QAbstractSocket::SocketTimeoutError, QStringLiteral("The WebSocket handshake timed out"));
    });
    m_openTimer.start(openTimeout);
    m_socket->open(request);
}

bool ControllerStreamBase::acceptMessage(const QByteArray& utf8)
{
    const QJsonDocument document = QJsonDocument::fromJson(utf8);
    return document.isObject() && accept(document.object());
}

void ControllerStreamBase::receive(const QByteArray& utf8)
{
    if (!acceptMessage(utf8))
        return;
    wake();
    Q_EMIT elementsAvailable();
}

void ControllerStreamBase::fail(int code, const QString& description)
{
    if (m_finished)
        return;
    qCDebug(lcController, "Stream %s ended: %s", qUtf8Printable(m_socket->requestUrl().path()),
            qUtf8Printable(description));
    finish(std::make_exception_ptr(NetworkError(code, description)));
}

void ControllerStreamBase::finish(std::exception_ptr error)
{
    if (m_finished)
        return;
    m_openTimer.stop();
    m_finished = true;
    m_error = std::move(error);
    wake();
    Q_EMIT finished();
}

void ControllerStreamBase::wake()
{
    if (m_waiter)
        m_waiter->resume();
}

ControllerStreamBase::ElementWait::ElementWait(ControllerStreamBase* stream, std::chrono::milliseconds bound)
    : m_stream(stream), m_bound(bound)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { resume(); });
}

ControllerStreamBase::ElementWait::~ElementWait()
{
    if (m_stream && m_stream->m_waiter == this)
        m_stream->m_waiter = nullptr;
}

bool ControllerStreamBase::ElementWait::ready() const
{
    return !m_stream || m_stream->hasElements() || m_stream->isFinished();
}

void ControllerStreamBase::ElementWait::suspend(std::coroutine_handle<> waiter)
{
    m_waiter = waiter;
    m_stream->m_waiter = this;
    m_timer.start(m_bound);
}

void ControllerStreamBase::ElementWait::resume()
{
    if (!m_waiter)
        return;
    m_timer.stop();
    if (m_stream && m_stream->m_waiter == this)
        m_stream->m_waiter = nullptr;
    // From the event loop, never inside the stream's handlers or the timer's signal: the consumer may
    // destroy either as soon as it runs.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [waiter = std::exchange(m_waiter, nullptr)] { waiter.resume(); },
        Qt::QueuedConnection);
}

} // namespace tarnwick
