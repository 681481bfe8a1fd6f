#pragma once

#include <QObject>
#include <QString>
#include <sys/types.h>

class QSocketNotifier;

namespace tarnwick {

class HelperService;

// The helper's Unix socket: mode 0600 inside a directory no one else may enter, every connection's peer
// credentials checked against the one allowed uid. Each accepted connection is served by a HelperConnection.
class HelperServer final : public QObject
{
    Q_OBJECT

public:
    HelperServer(QString socketPath, uid_t allowedUid, HelperService* service, QObject* parent = nullptr);
    // Closes the socket and removes its file, unless another helper has taken the path meanwhile.
    ~HelperServer() override;

    // Prepares the directory, replaces a stale socket and starts listening. Throws HelperError when the
    // directory is not private, the path is taken by anything but a stale socket, or another helper is
    // already listening there.
    void listen();

    const QString& socketPath() const { return m_socketPath; }

private:
    void prepareDirectory(const QString& directory);
    void clearStaleSocket();
    void acceptPending();

    QString m_socketPath;
    uid_t m_allowedUid;
    HelperService* m_service;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tarnwick
