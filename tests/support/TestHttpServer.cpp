#include "TestHttpServer.h"

#include <QMetaObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace tarnwick::test {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// Returns true once a whole request is in the buffer and fills `request`.
bool parseRequest(const QByteArray& buffer, HttpRequest& request)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.indexOf('?');
    request.path = question < 0 ? target : target.left(question);
    request.query = question < 0 ? QByteArray() : target.mid(question + 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return false;
    request.body = buffer.mid(headerEnd + 4, length);
    return true;
}

} // namespace

TestHttpServer::TestHttpServer(Handler handler) : m_handler(std::move(handler)), m_thread(new QThread)
{
    m_thread->start();
    QSemaphore ready;
    auto* server = new QTcpServer;
    server->moveToThread(m_thread.get());
    m_server = server;
    QMetaObject::invokeMethod(server, [this, server, &ready] {
        server->listen(QHostAddress::LocalHost, 0);
        m_port = server->serverPort();
        QObject::connect(server, &QTcpServer::newConnection, server, [this, server] {
            while (QTcpSocket* socket = server->nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    HttpRequest request;
                    if (!parseRequest(*buffer, request))
                        return;
                    buffer->clear();
                    record(request);
                    const HttpResponse response = m_handler(request);
                    if (response.neverAnswer)
                        return;
                    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                                     reasonPhrase(response.status) + "\r\n";
                    bool hasLength = false;
                    for (const auto& [name, value] : response.headers) {
                        out += name + ": " + value + "\r\n";
                        hasLength |= name.compare("content-length", Qt::CaseInsensitive) == 0;
                    }
                    if (!hasLength)
                        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
                    out += "Connection: close\r\n\r\n";
                    if (request.method != "HEAD")
                        out += response.body;
                    socket->write(out);
                    socket->disconnectFromHost();
                });
            }
        });
        ready.release();
    });
    ready.acquire();
}

TestHttpServer::~TestHttpServer()
{
    QMetaObject::invokeMethod(
        m_server, [server = m_server] { delete server; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

QString TestHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QList<HttpRequest> TestHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QStringList TestHttpServer::requestLines(bool withMethod) const
{
    QStringList lines;
    for (const HttpRequest& request : requests())
        lines.append(QString::fromUtf8(withMethod ? request.method + ' ' + request.path : request.path));
    return lines;
}

void TestHttpServer::record(const HttpRequest& request)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(request);
}

} // namespace tarnwick::test
