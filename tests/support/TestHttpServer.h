#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QThread;
class QTcpServer;

namespace tarnwick::test {

struct HttpRequest
{
    QByteArray method;
    QByteArray path;                      // without the query
    QByteArray query;                     // after '?', undecoded
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
};

struct HttpResponse
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool neverAnswer = false; // accept and read the request, then stay silent
};

// An HTTP/1.1 server on 127.0.0.1 running on its own thread, so that it answers even while the test's
// thread blocks. The handler runs on the server thread. Every request is recorded.
class TestHttpServer final
{
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();

    quint16 port() const { return m_port; }
    QString url(const QString& path = QString()) const;
    QList<HttpRequest> requests() const;
    // The requests so far as "METHOD /path", or only their paths.
    QStringList requestLines(bool withMethod = false) const;

private:
    void record(const HttpRequest& request);

    Handler m_handler;
    std::unique_ptr<QThread> m_thread;
    QTcpServer* m_server = nullptr; // lives on m_thread
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QList<HttpRequest> m_requests;
};

} // namespace tarnwick::test
