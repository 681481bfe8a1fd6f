#pragma once

#include "UserAccount.h"

#include <QObject>
#include <QString>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;

namespace tarnwick {

class HelperService;

// The helper's Unix socket: mode 0600 inside a directory no one else may enter, every connection's peer
// credentials checked against the one allowed uid. Each accepted connection is served by a HelperConnection.
// A helper serving another user creates the socket with that user's file-system identity, so it is the
// user's from the start and no later chmod or chown can be turned against another file.
class HelperServer final : public QObject
{
    Q_OBJECT

public:
    // serves: the other user served, or nothing when the helper serves its own user.
    HelperServer(QString socketPath, std::optional<UserAccount> serves, HelperService* service,
                 QObject* parent = nullptr);
    // Closes the socket and removes its file, unless another helper has taken the path meanwhile.
    ~HelperServer() override;

    // Prepares the directory, replaces a stale socket and starts listening. Throws HelperError when the
    // directory is not private, the path is taken by anything but a stale socket, or another helper is
    // already listening there.
    void listen();

    const QString& socketPath() const { return m_socketPath; }

private:
    void prepareDirectory(const QString& directory);
    void handOver(const QString& directory) const;
    void clearStaleSocket();
    void acceptPending();

    QString m_socketPath;
    std::optional<UserAccount> m_serves;
    uid_t m_allowedUid;
    HelperService* m_service;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tarnwick
