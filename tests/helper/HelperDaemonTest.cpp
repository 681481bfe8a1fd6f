// The real tarnwick-helper binary: where and how it listens, and whom it serves.
#include "support/HelperProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const QString kVersionLine = QStringLiteral("version " TARNWICK_VERSION "\n");
const char* const kTestUser = "tarnwick-test";

mode_t modeOf(const QString& path)
{
    struct stat info
    {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// Runs the probe client, as the given user when one is named; its output.
QString probe(const QString& socketPath, std::optional<uid_t> asUser = std::nullopt)
{
    QProcess process;
    QStringList arguments{QStringLiteral(TARNWICK_HELPER_PROBE), socketPath};
    QString program = arguments.takeFirst();
    if (asUser) {
        arguments.prepend(program);
        arguments.prepend(QStringLiteral("--"));
        arguments.prepend(QStringLiteral("--clear-groups"));
        arguments.prepend(QStringLiteral("--regid=%1").arg(*asUser));
        arguments.prepend(QStringLiteral("--reuid=%1").arg(*asUser));
        program = QStringLiteral("setpriv");
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return QStringLiteral("(probe did not finish)");
    return QString::fromUtf8(process.readAll());
}

// The uid of the unprivileged test user, created when missing.
std::optional<uid_t> testUser()
{
    if (const passwd* entry = ::getpwnam(kTestUser))
        return entry->pw_uid;
    const QStringList arguments{QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                                QString::fromLatin1(kTestUser)};
    if (QProcess::execute(QStringLiteral("useradd"), arguments) != 0)
        return std::nullopt;
    if (const passwd* entry = ::getpwnam(kTestUser))
        return entry->pw_uid;
    return std::nullopt;
}

// Leaves a socket file behind with nobody listening, as a crashed helper would.
void leaveStaleSocket(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

} // namespace

TEST(HelperDaemonTest, ListensOnAPrivateSocketAndCleansUpAfterItself)
{
    QTemporaryDir dir;
    const QString directory = dir.filePath(QStringLiteral("run/tarnwick"));
    const QString socketPath = directory + QStringLiteral("/helper.sock");
    {
        HelperProcess helper(socketPath);
        ASSERT_TRUE(helper.start()) << helper.log().toStdString();
        EXPECT_EQ(modeOf(directory), 0700u);
        EXPECT_EQ(modeOf(socketPath), 0600u);
        EXPECT_EQ(probe(socketPath), kVersionLine);

        // A second helper on the same path leaves the first one alone.
        HelperProcess second(socketPath);
        EXPECT_EQ(second.runToExit(), 1);
        EXPECT_TRUE(
            second.log().contains(QStringLiteral("Another helper is already listening on ") + socketPath))
            << second.log().toStdString();
        EXPECT_EQ(probe(socketPath), kVersionLine);
    }
    EXPECT_FALSE(QFileInfo::exists(socketPath));
}

TEST(HelperDaemonTest, ReplacesTheStaleSocketOfAHelperThatDied)
{
    QTemporaryDir dir;
    const QString socketPath = dir.filePath(QStringLiteral("helper.sock"));
    leaveStaleSocket(socketPath);
    ASSERT_TRUE(QFileInfo::exists(socketPath));

    HelperProcess helper(socketPath);
    ASSERT_TRUE(helper.start()) << helper.log().toStdString();
    EXPECT_EQ(probe(socketPath), kVersionLine);
    EXPECT_TRUE(waitFor([&] {
        return helper.log().contains(QStringLiteral("Removed a stale socket at ") + socketPath);
    })) << helper.log().toStdString();
}

TEST(HelperDaemonTest, RefusesToListenWhereItCannotBePrivate)
{
    QTemporaryDir dir;
    {
        SCOPED_TRACE("the socket path is a regular file");
        const QString path = dir.filePath(QStringLiteral("helper.sock"));
        writeFile(path, "not a socket");
        HelperProcess helper(path);
        EXPECT_EQ(helper.runToExit(), 1);
        EXPECT_TRUE(helper.log().contains(
            QStringLiteral("The helper socket path %1 exists and is not a socket").arg(path)))
            << helper.log().toStdString();
        EXPECT_EQ(readFile(path), QStringLiteral("not a socket"));
    }
    {
        SCOPED_TRACE("the directory is open to others");
        const QString open = dir.filePath(QStringLiteral("open"));
        ASSERT_TRUE(QDir().mkdir(open));
        ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0755), 0);
        HelperProcess helper(open + QStringLiteral("/helper.sock"));
        EXPECT_EQ(helper.runToExit(), 1);
        EXPECT_TRUE(helper.log().contains(
            QStringLiteral("The socket directory %1 is open to other users (mode 0755); it must be 0700")
                .arg(open)))
            << helper.log().toStdString();
        EXPECT_FALSE(QFileInfo::exists(open + QStringLiteral("/helper.sock")));
    }
}

TEST(HelperDaemonTest, RefusesConnectionsFromAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to create a second user and connect as it";
    const std::optional<uid_t> otherUid = testUser();
    ASSERT_TRUE(otherUid) << "cannot create the user " << kTestUser;

    QTemporaryDir dir;
    const QString socketPath = dir.filePath(QStringLiteral("helper.sock"));
    HelperProcess helper(socketPath);
    ASSERT_TRUE(helper.start()) << helper.log().toStdString();
    // Open the file permissions, so that only the peer-credential check stands in the way.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(socketPath).constData(), 0666), 0);

    EXPECT_EQ(probe(socketPath, otherUid), QStringLiteral("no reply\n"));
    EXPECT_TRUE(waitFor([&] {
        return helper.log().contains(QStringLiteral("Refused connection from uid %1 (pid ").arg(*otherUid));
    })) << helper.log().toStdString();
    // The helper's own user is still served.
    EXPECT_EQ(probe(socketPath), kVersionLine);

    // With --allow-uid the other user is the one served, in a directory the helper hands over to it, and the
    // helper's own user is refused.
    const QString otherSocket = dir.filePath(QStringLiteral("other/helper.sock"));
    HelperProcess forOther(otherSocket, {QStringLiteral("--allow-uid"), QString::number(*otherUid)});
    ASSERT_TRUE(forOther.start()) << forOther.log().toStdString();
    EXPECT_EQ(modeOf(QFileInfo(otherSocket).path()), 0700u);
    EXPECT_EQ(probe(otherSocket, otherUid), kVersionLine);
    EXPECT_EQ(probe(otherSocket), QStringLiteral("no reply\n"));
}
