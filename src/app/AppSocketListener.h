#pragma once

#include "AppCommand.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

class QSocketNotifier;

namespace tarnwick {

// The control socket the `tarnwick` tool drives the application through: a Unix stream socket, mode 0600,
// one framed request and one framed response per connection. Only the allowed uid may connect; a client
// that never finishes its request is dropped after a time-out, and at most `maxConnections` are served at
// once (further clients wait in the backlog). Everything runs on the thread that owns it, without blocking.
class AppSocketListener final : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<QCoro::Task<AppResponse>(AppCommand)>;

    struct Options
    {
        QString socketPath = defaultSocketPath();
        uid_t allowedUid = ::geteuid();
        int maxConnections = 32;
        // From the connection to the last byte of the request.
        std::chrono::milliseconds requestTimeout{5000};
    };

    // $TARNWICK_APP_SOCKET, else "~/.config/tarnwick/app.sock".
    static QString defaultSocketPath();

    // With the default options.
    AppSocketListener();
    explicit AppSocketListener(Options options, QObject* parent = nullptr);
    ~AppSocketListener() override;

    // Creates, binds and listens; false (logged) when the socket cannot be set up.
    bool start(Handler handler);
    // Stops accepting, closes the descriptor and removes the socket file. Served connections finish.
    void stop();

    bool isListening() const { return m_fd >= 0; }
    const QString& socketPath() const { return m_options.socketPath; }
    int activeConnections() const { return m_active; }

private:
    class Connection;

    // Removes a socket nobody answers on; false when the path is taken by anything else.
    bool clearStaleSocket();
    void acceptPending();
    void connectionEnded();
    static QCoro::Task<> answer(QPointer<Connection> connection, Handler handler, AppCommand command);

    Options m_options;
    Handler m_handler;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QSocketNotifier* m_notifier = nullptr;
    int m_active = 0;
};

} // namespace tarnwick
