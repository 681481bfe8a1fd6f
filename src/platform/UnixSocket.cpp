#include "UnixSocket.h"

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick {

std::optional<PeerCredentials> peerCredentials(int fd)
{
#ifdef SO_PEERCRED
    struct ucred credentials
    {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return PeerCredentials{credentials.uid, credentials.pid};
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(fd, &uid, &gid) != 0)
        return std::nullopt;
    return PeerCredentials{uid, -1};
#endif
}

bool fillSocketAddress(const QByteArray& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return true;
}

int closeOnExec(int fd, bool nonBlocking)
{
    if (fd < 0)
        return fd;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (nonBlocking)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

} // namespace tarnwick
