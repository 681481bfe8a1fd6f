// A minimal client of the helper socket, run by the tests as another user: asks for the version and prints
// "version <v>", "no reply" when the helper closed the connection without answering, or
// "cannot connect: <reason>". Given a request object as JSON, sends that instead and prints the reply's
// JSON.
#include "platform/IPCFrame.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: helper_probe SOCKET [REQUEST]\n");
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
    QJsonObject request{{QStringLiteral("operation"), QStringLiteral("getVersion")}};
    if (argc == 3)
        request = QJsonDocument::fromJson(argv[2]).object();
    request.insert(QStringLiteral("id"), 1);
    if (!tarnwick::IPCFrame::write(request, fd)) {
        std::printf("no reply\n");
        return 1;
    }
    std::optional<QJsonObject> reply = tarnwick::IPCFrame::read(fd);
    ::close(fd);
    if (!reply) {
        std::printf("no reply\n");
        return 1;
    }
    if (argc == 3) {
        reply->remove(QStringLiteral("id"));
        std::printf("%s\n", QJsonDocument(*reply).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    std::printf("version %s\n", qUtf8Printable(reply->value(QStringLiteral("version")).toString()));
    return 0;
}
