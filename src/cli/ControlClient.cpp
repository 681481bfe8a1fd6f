#include "ControlClient.h"

#include "platform/IPCFrame.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnwick::cli {

namespace {

// Closes the descriptor however the exchange ends.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

NotRunningError::NotRunningError(const QString& socketPath)
    : Error(QStringLiteral(
                "Tarnwick is not running (nothing answers on %1).\n"
                "Start it with \"tarnwick-app\", or \"tarnwick-app --headless\" on a machine without "
                "a desktop; the tool then talks to it.")
                .arg(socketPath))
{}

std::chrono::milliseconds ControlClient::answerBound(const QString& command)
{
    using namespace std::chrono_literals;
    // The application's own download bound, and the unpacking and checks after it.
    if (command == QLatin1String("upgradeKernel") || command == QLatin1String("upgradeApp"))
        return 35min;
    return 2min;
}

ControlClient::ControlClient(QString socketPath, std::optional<std::chrono::milliseconds> bound)
    : m_socketPath(std::move(socketPath)), m_bound(bound)
{}

AppResponse ControlClient::send(const AppCommand& command) const
{
    const QByteArray path = QFile::encodeName(m_socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= qsizetype(sizeof address.sun_path))
        throw Error(QStringLiteral("The control socket path is empty or too long: \"%1\"").arg(m_socketPath));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    const Descriptor socket{::socket(AF_UNIX, SOCK_STREAM, 0)};
    if (socket.fd < 0)
        throw Error(QStringLiteral("Cannot create a socket: %1").arg(qt_error_string(errno)));
    ::fcntl(socket.fd, F_SETFD, FD_CLOEXEC);
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        // A missing path, a stale socket and anything that is not a socket all mean the same to a user.
        if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR || error == ENOTSOCK)
            throw NotRunningError(m_socketPath);
        throw Error(
            QStringLiteral("Cannot connect to Tarnwick at %1: %2").arg(m_socketPath, qt_error_string(error)));
    }
    if (!IPCFrame::write(command.toJson(), socket.fd))
        throw Error(QStringLiteral("Tarnwick closed the connection before taking the request"));
    const auto bound =
        std::chrono::duration_cast<std::chrono::microseconds>(m_bound.value_or(answerBound(command.name())));
    const timeval limit{static_cast<time_t>(bound.count() / 1000000),
                        static_cast<suseconds_t>(bound.count() % 1000000)};
    ::setsockopt(socket.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    errno = 0;
    const std::optional<QJsonObject> answer = IPCFrame::read(socket.fd);
    if (!answer && (errno == EAGAIN || errno == EWOULDBLOCK))
        throw Error(QStringLiteral("Tarnwick took the request but did not answer within %1 s")
                        .arg(std::chrono::duration_cast<std::chrono::seconds>(bound).count()));
    const std::optional<AppResponse> response = answer ? AppResponse::fromJson(*answer) : std::nullopt;
    if (!response)
        throw Error(QStringLiteral("Tarnwick closed the connection without an answer"));
    return *response;
}

} // namespace tarnwick::cli
