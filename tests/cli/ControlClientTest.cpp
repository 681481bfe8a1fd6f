#include "cli/ControlClient.h"

#include "support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;

// An application that takes the connection and the request, then never answers: the tool gives up at
// its bound with a clear error instead of waiting forever.
TEST(ControlClientTest, ReportsAnApplicationThatNeverAnswers)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("app.sock")));
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 1), 0);

    auto answer = std::async(std::launch::async, [&] {
        try {
            cli::ControlClient(QFile::decodeName(path), 1s).send(AppCommand(QStringLiteral("getStatus")));
            return QStringLiteral("an answer");
        } catch (const Error& error) {
            return error.description();
        }
    });
    const bool ended = answer.wait_for(20s) == std::future_status::ready;
    // A client still waiting is let go: its connection is reset.
    ::close(server);
    ASSERT_TRUE(ended);
    EXPECT_EQ(answer.get(), QStringLiteral("Tarnwick took the request but did not answer within 1 s"));
}
