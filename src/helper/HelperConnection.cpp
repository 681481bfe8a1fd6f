#include "HelperConnection.h"

#include "HelperProtocol.h"
#include "HelperService.h"
#include "platform/Error.h"
#include "platform/Logging.h"

#include <QLocalSocket>
#include <QPointer>
#include <sys/socket.h>

namespace tarnwick {

HelperConnection::HelperConnection(qintptr socketDescriptor, HelperService* service, QObject* parent)
    : QObject(parent), m_socket(new QLocalSocket(this)), m_service(service)
{
    connect(m_socket, &QLocalSocket::readyRead, this, &HelperConnection::readFrames);
    connect(m_socket, &QLocalSocket::disconnected, this, &QObject::deleteLater);
    if (!m_socket->setSocketDescriptor(socketDescriptor)) {
        qCWarning(lcHelper, "Cannot serve a connection: %s", qUtf8Printable(m_socket->errorString()));
        deleteLater();
        return;
    }
    struct ucred credentials
    {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0)
        m_clientPid = credentials.pid;
}

void HelperConnection::readFrames()
{
    m_reader.append(m_socket->readAll());
    while (const std::optional<QByteArray> payload = m_reader.next()) {
        const std::optional<QJsonObject> request = IPCFrame::decode(*payload);
        if (!request) {
            qCWarning(lcHelper, "Dropped a connection that sent a frame without a JSON object");
            m_socket->abort();
            return;
        }
        answer(*request);
    }
    if (m_reader.failed()) {
        qCWarning(lcHelper, "Dropped a connection that sent a frame of a rejected length");
        m_socket->abort();
    }
}

QCoro::Task<> HelperConnection::answer(QJsonObject request)
{
    QPointer<HelperConnection> self(this);
    try {
        QJsonObject reply = co_await m_service->handle(request, m_clientPid);
        if (!self || m_socket->state() != QLocalSocket::ConnectedState)
            co_return;
        reply.insert(HelperProtocol::Key::id, request.value(HelperProtocol::Key::id));
        const std::optional<QByteArray> frame = IPCFrame::encode(reply);
        if (frame)
            m_socket->write(*frame);
        else
            qCWarning(lcHelper, "A reply did not fit in one frame");
    } catch (const std::exception& error) {
        qCWarning(lcHelper, "Request failed: %s", qUtf8Printable(describe(error)));
    }
}

} // namespace tarnwick
