// The real tarnwick-helper binary: where and how it listens, and whom it serves.
#include "support/HelperProcess.h"
#include "support/TestSupport.h"
#include "support/TestUser.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The owner and permission bits of a path itself (not of what a link points at); {-1, 0} when it is absent.
std::pair<uid_t, mode_t> ownerAndMode(const QString& path)
{
    struct stat info
    {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {uid_t(-1), 0};
    return {info.st_uid, info.st_mode & 07777};
}

// Runs the probe client, as the given user when one is named; its output. With a request, the reply's JSON.
QString probe(const QString& socketPath, std::optional<uid_t> asUser = std::nullopt,
              const QJsonObject& request = {})
{
    QProcess process;
    QStringList arguments{QStringLiteral(TARNWICK_HELPER_PROBE), socketPath};
    if (!request.isEmpty())
        arguments.append(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    QString program = arguments.takeFirst();
    if (asUser) {
        const QString id = QString::number(*asUser);
        arguments =
            QStringList{"--reuid=" + id, "--regid=" + id, "--clear-groups", "--", program} + arguments;
        program = "setpriv";
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return "(probe did not finish)";
    return QString::fromUtf8(process.readAll());
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
    const QString directory = dir.filePath("run/tarnwick");
    const QString socketPath = directory + "/helper.sock";
    {
        HelperProcess helper(socketPath);
        ASSERT_TRUE(helper.start()) << helper.log().toStdString();
        EXPECT_EQ(ownerAndMode(directory).second, 0700u);
        EXPECT_EQ(ownerAndMode(socketPath).second, 0600u);
        EXPECT_EQ(probe(socketPath), kVersionLine);

        // A second helper on the same path leaves the first one alone.
        HelperProcess second(socketPath);
        EXPECT_EQ(second.runToExit(), 1);
        EXPECT_TRUE(second.log().contains("Another helper is already listening on " + socketPath))
            << second.log().toStdString();
        EXPECT_EQ(probe(socketPath), kVersionLine);
    }
    EXPECT_FALSE(QFileInfo::exists(socketPath));
}

TEST(HelperDaemonTest, ReplacesTheStaleSocketOfAHelperThatDied)
{
    QTemporaryDir dir;
    const QString socketPath = dir.filePath("helper.sock");
    leaveStaleSocket(socketPath);
    ASSERT_TRUE(QFileInfo::exists(socketPath));

    HelperProcess helper(socketPath);
    ASSERT_TRUE(helper.start()) << helper.log().toStdString();
    EXPECT_EQ(probe(socketPath), kVersionLine);
    EXPECT_TRUE(waitFor([&] { return helper.log().contains("Removed a stale socket at " + socketPath); }))
        << helper.log().toStdString();
}

TEST(HelperDaemonTest, RefusesToListenWhereItCannotBePrivate)
{
    QTemporaryDir dir;
    {
        SCOPED_TRACE("the socket path is a regular file");
        const QString path = dir.filePath("helper.sock");
        writeFile(path, "not a socket");
        HelperProcess helper(path);
        EXPECT_EQ(helper.runToExit(), 1);
        EXPECT_TRUE(helper.log().contains(
            QStringLiteral("The helper socket path %1 exists and is not a socket").arg(path)))
            << helper.log().toStdString();
        EXPECT_EQ(readFile(path), "not a socket");
    }
    {
        SCOPED_TRACE("the directory is open to others");
        const QString open = dir.filePath("open");
        ASSERT_TRUE(QDir().mkdir(open));
        ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0755), 0);
        HelperProcess helper(open + "/helper.sock");
        EXPECT_EQ(helper.runToExit(), 1);
        EXPECT_TRUE(helper.log().contains(
            QStringLiteral("The socket directory %1 is open to other users (mode 0755); it must be 0700")
                .arg(open)))
            << helper.log().toStdString();
        EXPECT_FALSE(QFileInfo::exists(open + "/helper.sock"));
    }
}

TEST(HelperDaemonTest, RefusesConnectionsFromAnotherUser)
{
    TARNWICK_REQUIRE_TEST_USER(user);
    const std::optional<uid_t> otherUid = user.uid();

    QTemporaryDir dir;
    const QString socketPath = dir.filePath("helper.sock");
    HelperProcess helper(socketPath);
    ASSERT_TRUE(helper.start()) << helper.log().toStdString();
    // Open the file permissions, so that only the peer-credential check stands in the way.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(socketPath).constData(), 0666), 0);

    EXPECT_EQ(probe(socketPath, otherUid), "no reply\n");
    EXPECT_TRUE(waitFor([&] {
        return helper.log().contains(QStringLiteral("Refused connection from uid %1 (pid ").arg(*otherUid));
    })) << helper.log().toStdString();
    // The helper's own user is still served.
    EXPECT_EQ(probe(socketPath), kVersionLine);

    // With --allow-uid the other user is the one served, in a directory the helper hands over to it, and the
    // helper's own user is refused.
    const QString otherSocket = dir.filePath("other/helper.sock");
    HelperProcess forOther(otherSocket, {"--allow-uid", QString::number(*otherUid)});
    ASSERT_TRUE(forOther.start()) << forOther.log().toStdString();
    EXPECT_EQ(ownerAndMode(QFileInfo(otherSocket).path()), std::pair(*otherUid, mode_t(0700)));
    EXPECT_EQ(probe(otherSocket, otherUid), kVersionLine);
    EXPECT_EQ(probe(otherSocket), "no reply\n");
}

TEST(HelperDaemonTest, ServesAnotherUserOnlyWithThatUsersRights)
{
    TARNWICK_REQUIRE_TEST_USER(user);
    const uid_t uid = *user.uid();
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
    // The user's workspace, whose "kernel" says who it runs as and what it was given.
    const QString ws = dir.filePath("ws/");
    const QString kernel = ws + "core/versions/v1/mihomo";
    ASSERT_TRUE(QDir().mkpath(ws + "core/versions/v1") && QDir().mkpath(ws + "work") &&
                QDir().mkpath(ws + "logs"));
    writeFile(kernel, "#!/bin/sh\nid -u\necho \"secret=$CLASH_OVERRIDE_SECRET\"\nexec sleep 60\n");
    ASSERT_EQ(::chmod(QFile::encodeName(kernel).constData(), 0755), 0);
    ASSERT_TRUE(user.own(ws));
    // A file of root's that a link in the user's logs directory points at.
    const QString victim = dir.filePath("victim");
    writeFile(victim, "root's\n");
    const QString log = ws + "logs/core.log";
    const QStringList arguments{"-d",       ws + "work/",    "-f", ws + "work/config.json",
                                "-ext-ctl", "127.0.0.1:9090"};
    const QJsonObject secret{{"CLASH_OVERRIDE_SECRET", "s3cret"}};

    // The user-mode helper run by root for the user, and the privileged mode's system service, which alone
    // leaves the kernel network administration (CAP_NET_ADMIN and CAP_NET_RAW).
    const struct
    {
        const char* name;
        QStringList options;
        const char* capabilities;
    } modes[] = {{"user mode", {}, "0000000000000000"},
                 {"privileged mode", {"--privileged"}, "0000000000003000"}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.name);
        QFile::remove(log);
        const QString socketPath =
            dir.filePath(QStringLiteral("run-%1/helper.sock").arg(mode.options.size()));
        HelperProcess helper(socketPath, mode.options + QStringList{"--allow-uid", QString::number(uid)});
        ASSERT_TRUE(helper.start()) << helper.log().toStdString();
        EXPECT_EQ(ownerAndMode(socketPath), std::pair(uid, mode_t(0600)));

        const auto start = [&](const QString& executable, const QStringList& argv, const QString& logFile,
                               const QJsonObject& environment) {
            const QJsonObject request{{"operation", "startKernel"},
                                      {"executablePath", executable},
                                      {"arguments", QJsonArray::fromStringList(argv)},
                                      {"logFile", logFile},
                                      {"environment", environment}};
            return QJsonDocument::fromJson(probe(socketPath, uid, request).toUtf8()).object();
        };
        const QJsonObject started = start(kernel, arguments, log, secret);
        const qint64 pid = started.value("pid").toInteger(-1);
        ASSERT_GT(pid, 0) << QJsonDocument(started).toJson().toStdString() << helper.log().toStdString();
        // The kernel is the user's process with the user's log; the secret reached it, not its command line.
        EXPECT_TRUE(waitFor([&] { return readFile(log).contains("secret="); }))
            << readFile(log).toStdString();
        EXPECT_EQ(readFile(log), QStringLiteral("%1\nsecret=s3cret\n").arg(uid));
        const QString status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
        EXPECT_TRUE(status.contains(QStringLiteral("\nUid:\t%1\t%1\t%1\t%1\n").arg(uid)))
            << status.toStdString();
        EXPECT_TRUE(status.contains(QStringLiteral("\nCapEff:\t%1\n").arg(QLatin1String(mode.capabilities))))
            << status.toStdString();
        EXPECT_FALSE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains("s3cret"));
        EXPECT_EQ(ownerAndMode(log).first, uid);

        // Nothing but that kernel, so given, logging there.
        const struct
        {
            const char* name;
            QString executable;
            QStringList arguments;
            QString log;
            QJsonObject environment;
            QString error;
        } refused[] = {
            {"another program", "/bin/sh", arguments, log, secret,
             "Refused kernel executable /bin/sh: only core/current or core/versions/<version>/mihomo of a "
             "workspace is started"},
            {"a kernel of root's workspace", dir.filePath("core/current"), arguments, log, secret,
             QStringLiteral("The workspace %1 belongs to uid 0, not uid %2").arg(dir.path()).arg(uid)},
            {"more arguments", kernel, arguments + QStringList{"-secret", "s3cret"}, log, QJsonObject(),
             QStringLiteral(
                 "Refused kernel arguments: expected \"-d %1work -f %1work/config.json -ext-ctl HOST:PORT\"")
                 .arg(ws)},
            {"a log elsewhere", kernel, arguments, victim, secret,
             QStringLiteral("Refused kernel log %1: the kernel logs only to %2").arg(victim, log)},
            {"another variable", kernel, arguments, log, QJsonObject{{"LD_PRELOAD", "/x.so"}},
             "Environment variable not allowed: LD_PRELOAD"},
        };
        for (const auto& request : refused) {
            SCOPED_TRACE(request.name);
            EXPECT_EQ(start(request.executable, request.arguments, request.log, request.environment),
                      (QJsonObject{{"pid", -1}, {"error", request.error}}));
        }
        // A link where the log goes is not followed, and root's file stays as it was.
        ASSERT_TRUE(QFile::remove(log));
        ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(log).constData()), 0);
        EXPECT_EQ(start(kernel, arguments, log, secret).value("error").toString(),
                  QStringLiteral("Cannot open log file %1: Too many levels of symbolic links").arg(log));
        EXPECT_EQ(readFile(victim), "root's\n");
    }
}

TEST(HelperDaemonTest, InstallsAndRemovesItsSystemdUserUnit)
{
    QTemporaryDir dir;
    // A user manager that records what it is told and runs the unit's command line on restart.
    const QString bin = dir.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    writeFile(bin + "/systemctl", R"sh(#!/bin/sh
echo "$*" >>"$MANAGER_LOG"
unit="$XDG_CONFIG_HOME/systemd/user/app.tarnwick.helper.service"
case "$*" in
  *restart*) eval "set -- $(sed -n 's/^ExecStart=//p' "$unit")"; "$@" >/dev/null 2>&1 & echo $! >"$MANAGER_PID" ;;
  *disable*) kill "$(cat "$MANAGER_PID")" ;;
esac
)sh");
    ASSERT_EQ(::chmod(QFile::encodeName(bin + "/systemctl").constData(), 0755), 0);
    const QString socketPath = dir.filePath("run/helper.sock");
    const QString unit = dir.filePath("config/systemd/user/app.tarnwick.helper.service");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", bin + u':' + environment.value("PATH"));
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    environment.insert("MANAGER_LOG", dir.filePath("manager.log"));
    environment.insert("MANAGER_PID", dir.filePath("manager.pid"));
    const auto helper = [&](const QString& option) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(HelperProcess::executable(), {option, "--socket", socketPath});
        EXPECT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };

    EXPECT_EQ(helper("--install"),
              QStringLiteral("Installed %1: the helper runs now and with every session (%2).\n")
                  .arg(unit, socketPath));
    EXPECT_TRUE(readFile(unit).contains(
        QStringLiteral("ExecStart=\"%1\" --socket \"%2\"\n").arg(HelperProcess::executable(), socketPath)));
    EXPECT_EQ(probe(socketPath), kVersionLine);

    EXPECT_EQ(helper("--uninstall"), "Removed app.tarnwick.helper.service; the helper is stopped.\n");
    EXPECT_FALSE(QFileInfo::exists(unit));
    EXPECT_FALSE(socketAcceptsConnections(socketPath));
    EXPECT_EQ(readFile(dir.filePath("manager.log")),
              QStringLiteral(
                  "--user show-environment\n--user daemon-reload\n--user enable app.tarnwick.helper.service\n"
                  "--user restart app.tarnwick.helper.service\n--user show-environment\n"
                  "--user disable --now app.tarnwick.helper.service\n--user daemon-reload\n"));
}
