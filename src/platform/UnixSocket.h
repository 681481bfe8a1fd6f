#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>
#include <sys/types.h>
#include <sys/un.h>

namespace tarnwick {

// Who is at the other end of a connected Unix socket.
struct PeerCredentials
{
    uid_t uid;
    qint64 pid; // -1 where the platform does not tell
};

std::optional<PeerCredentials> peerCredentials(int fd);

// False when the path is empty or too long for a socket address.
bool fillSocketAddress(const QByteArray& path, sockaddr_un& address);

// socket() and accept() without the Linux-only flags, so that the code also builds on macOS: marks the
// descriptor close-on-exec (and non-blocking when asked) and passes it, or a failure, through.
int closeOnExec(int fd, bool nonBlocking);

} // namespace tarnwick
