// A minimal client of the helper socket, run by the tests as another user: asks for the version and prints
// "version <v>", "no reply" when the helper closed the connection without answering, or
// "cannot connect: <reason>".
#include "platform/IPCFrame.h"

#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: helper_probe SOCKET\n");
        return 2;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::printf("cannot connect: %s\n", std::strerror(errno));
        return 1;
    }
    const QJsonObject request{{QStringLiteral("id"), 1},
                              {QStringLiteral("operation"), QStringLiteral("getVersion")}};
    if (!tarnwick::IPCFrame::write(request, fd)) {
        std::printf("no reply\n");
        return 1;
    }
    const std::optional<QJsonObject> reply = tarnwick::IPCFrame::read(fd);
    ::close(fd);
    if (!reply) {
        std::printf("no reply\n");
        return 1;
    }
    std::printf("version %s\n", qUtf8Printable(reply->value(QStringLiteral("version")).toString()));
    return 0;
}
