#include "HelperServer.h"

#include "HelperConnection.h"
#include "HelperError.h"
#include "platform/HelperSocketPath.h"
#include "platform/Logging.h"
#include "platform/UnixSocket.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnwick {

namespace {

QString octal(mode_t mode)
{
    return QStringLiteral("0%1").arg(mode & 07777, 3, 8, QLatin1Char('0'));
}

} // namespace

HelperServer::HelperServer(QString socketPath, std::optional<UserAccount> serves, HelperService* service,
                           QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_serves(std::move(serves)),
      m_allowedUid(m_serves ? m_serves->uid : ::geteuid()), m_service(service)
{}

HelperServer::~HelperServer()
{
    if (m_fd < 0)
        return;
    delete m_notifier;
    ::close(m_fd);
    const QByteArray path = QFile::encodeName(m_socketPath);
    const FileSystemIdentity identity(m_serves);
    struct stat info
    {};
    if (::lstat(path.constData(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode)
        ::unlink(path.constData());
}

void HelperServer::listen()
{
    const QByteArray path = QFile::encodeName(m_socketPath);
    sockaddr_un address{};
    if (m_socketPath.isEmpty() || !fillSocketAddress(path, address))
        throw HelperError(
            QStringLiteral("Helper socket path is empty or too long: \"%1\"").arg(m_socketPath));

    prepareDirectory(QFileInfo(m_socketPath).absolutePath());
    clearStaleSocket();

    const int fd = closeOnExec(::socket(AF_UNIX, SOCK_STREAM, 0), true);
    if (fd < 0)
        throw HelperError(QStringLiteral("Cannot create the helper socket: %1").arg(qt_error_string(errno)));
    struct stat info
    {};
    int bound = -1;
    int bindError = 0;
    {
        // Created 0600 and, for another user, as that user's: nothing is left to change afterwards.
        const FileSystemIdentity identity(m_serves);
        const mode_t previousMask = ::umask(0177);
        bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        bindError = errno;
        ::umask(previousMask);
        if (bound == 0 && ::lstat(path.constData(), &info) != 0) {
            bound = -1;
            bindError = errno;
        }
    }
    if (bound != 0) {
        ::close(fd);
        throw HelperError(QStringLiteral("Cannot bind the helper socket %1: %2")
                              .arg(m_socketPath, qt_error_string(bindError)));
    }
    if (::listen(fd, 16) != 0) {
        const int error = errno;
        ::close(fd);
        const FileSystemIdentity identity(m_serves);
        ::unlink(path.constData());
        throw HelperError(QStringLiteral("Cannot listen on the helper socket %1: %2")
                              .arg(m_socketPath, qt_error_string(error)));
    }
    m_fd = fd;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HelperServer::acceptPending);
    qCInfo(lcHelper, "Helper %s listening on %s for uid %u", TARNWICK_VERSION, path.constData(),
           m_allowedUid);
}

void HelperServer::prepareDirectory(const QString& directory)
{
    const QByteArray path = QFile::encodeName(directory);
    struct stat info
    {};
    if (::lstat(path.constData(), &info) != 0) {
        if (!HelperSocketPath::createPrivateDirectory(directory))
            throw HelperError(QStringLiteral("Cannot create the socket directory %1").arg(directory));
        // A helper serving another user hands it the directory, or that user could not reach the socket;
        // through a descriptor of the directory it made, whatever happens to the path meanwhile.
        if (m_serves)
            handOver(directory);
        return;
    }
    if (!S_ISDIR(info.st_mode))
        throw HelperError(QStringLiteral("The socket directory %1 is not a directory").arg(directory));
    if (info.st_uid != ::geteuid() && info.st_uid != m_allowedUid)
        throw HelperError(
            QStringLiteral("The socket directory %1 belongs to uid %2").arg(directory).arg(info.st_uid));
    if ((info.st_mode & 0077) != 0)
        throw HelperError(
            QStringLiteral("The socket directory %1 is open to other users (mode %2); it must be 0700")
                .arg(directory, octal(info.st_mode)));
}

void HelperServer::handOver(const QString& directory) const
{
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info
    {};
    const bool ours = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid();
    const bool handed = ours && ::fchown(fd, m_allowedUid, static_cast<gid_t>(-1)) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!handed)
        throw HelperError(QStringLiteral("Cannot hand the socket directory %1 to uid %2: %3")
                              .arg(directory)
                              .arg(m_allowedUid)
                              .arg(ours ? qt_error_string(error) : QStringLiteral("it was replaced")));
}

void HelperServer::clearStaleSocket()
{
    const QByteArray path = QFile::encodeName(m_socketPath);
    struct stat info
    {};
    if (::lstat(path.constData(), &info) != 0)
        return;
    if (!S_ISSOCK(info.st_mode))
        throw HelperError(
            QStringLiteral("The helper socket path %1 exists and is not a socket").arg(m_socketPath));

    sockaddr_un address{};
    fillSocketAddress(path, address);
    const int probe = closeOnExec(::socket(AF_UNIX, SOCK_STREAM, 0), false);
    const bool answered =
        probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0)
        ::close(probe);
    if (answered)
        throw HelperError(QStringLiteral("Another helper is already listening on %1").arg(m_socketPath));
    const FileSystemIdentity identity(m_serves);
    if (::unlink(path.constData()) != 0)
        throw HelperError(QStringLiteral("Cannot remove the stale socket %1: %2")
                              .arg(m_socketPath, qt_error_string(errno)));
    qCInfo(lcHelper, "Removed a stale socket at %s", path.constData());
}

void HelperServer::acceptPending()
{
    for (;;) {
        const int fd = closeOnExec(::accept(m_fd, nullptr, nullptr), false);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                qCWarning(lcHelper, "accept failed: %s", qUtf8Printable(qt_error_string(errno)));
            return;
        }
        const std::optional<PeerCredentials> peer = peerCredentials(fd);
        if (!peer) {
            qCWarning(lcHelper, "Refused a connection whose peer credentials cannot be read");
            ::close(fd);
            continue;
        }
        if (peer->uid != m_allowedUid) {
            qCWarning(lcHelper, "Refused connection from uid %u (pid %lld): only uid %u may use the helper",
                      peer->uid, static_cast<long long>(peer->pid), m_allowedUid);
            ::close(fd);
            continue;
        }
        new HelperConnection(fd, m_service, this);
    }
}

} // namespace tarnwick
