#include "RunningInstance.h"

#include "AppCommand.h"
#include "platform/IPCFrame.h"
#include "platform/Logging.h"

#include <QFile>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnwick {

bool RunningInstance::showWindow(const QString& socketPath, qint64 pid, std::chrono::milliseconds bound)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Every blocking call below gives up at the bound: a stuck application must not hold this one.
    const timeval timeout{time_t(bound.count() / 1000), suseconds_t(bound.count() % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::optional<QJsonObject> answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        IPCFrame::write(AppCommand(QStringLiteral("showWindow"), {{QStringLiteral("pid"), pid}}).toJson(),
                        fd))
        answer = IPCFrame::read(fd);
    ::close(fd);
    const std::optional<AppResponse> response = answer ? AppResponse::fromJson(*answer) : std::nullopt;
    if (response && !response->success)
        qCInfo(lcAppState, "The running application keeps its window: %s",
               qUtf8Printable(response->error.value_or(QString())));
    return response && response->success;
}

} // namespace tarnwick
