// HelperClient against a scripted stand-in helper (for replies the real one never gives), against the real
// tarnwick-helper it starts itself, and with a recording stand-in for systemctl.
#include "app/HelperClient.h"

#include "helper/HelperProtocol.h"
#include "support/HelperProcess.h"
#include "support/LogCapture.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"
#include "support/TestUser.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwick;
using namespace tarnwick::test;
using namespace std::chrono_literals;

namespace {

namespace Key = HelperProtocol::Key;

struct Answer
{
    QJsonObject reply;
    std::chrono::milliseconds delay{0};
    bool silent = false;
};

// Speaks the helper's framing and answers each request as the test's script says.
class ScriptedHelper final
{
public:
    using Script = std::function<Answer(const QJsonObject& request)>;

    ScriptedHelper(const QString& path, Script script) : m_script(std::move(script))
    {
        EXPECT_TRUE(m_server.listen(path)) << m_server.errorString().toStdString();
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] { accept(); });
    }

    // Accepted connections are closed at once, as the helper does for a refused peer.
    void refuseConnections(bool refuse) { m_refuse = refuse; }
    int connections() const { return m_connections; }
    const QList<QJsonObject>& requests() const { return m_requests; }

private:
    void accept()
    {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            ++m_connections;
            if (m_refuse) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            auto reader = std::make_shared<IPCFrame::Reader>();
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, reader] {
                reader->append(socket->readAll());
                while (const std::optional<QByteArray> payload = reader->next())
                    answer(socket, *IPCFrame::decode(*payload));
            });
        }
    }

    void answer(QLocalSocket* socket, const QJsonObject& request)
    {
        m_requests.append(request);
        Answer answer = m_script(request);
        if (answer.silent)
            return;
        answer.reply.insert(Key::id, request.value(Key::id));
        const QByteArray frame = *IPCFrame::encode(answer.reply);
        QTimer::singleShot(answer.delay, socket, [socket, frame] { socket->write(frame); });
    }

    QLocalServer m_server;
    Script m_script;
    bool m_refuse = false;
    int m_connections = 0;
    QList<QJsonObject> m_requests;
};

HelperRegistration::Options options(const QString& socketPath, const QString& helperExecutable = QString())
{
    HelperRegistration::Options options;
    options.socketPath = socketPath;
    options.helperExecutable = helperExecutable;
    options.unitDirectory = QFileInfo(socketPath).path() + QStringLiteral("/units");
    // No user manager answers: the application starts the helper itself.
    options.systemctl = QStringLiteral("/bin/false");
    options.bound = 10s;
    return options;
}

// For the calls a test expects to time out.
HelperClient::Timeouts shortTimeouts()
{
    HelperClient::Timeouts timeouts;
    timeouts.getVersion = timeouts.stopKernel = 300ms;
    return timeouts;
}

bool processGone(qint64 pid)
{
    // The helper started detached is nobody's child here: gone, or a zombie its new parent did not reap yet.
    const QString stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.isEmpty() || stat.section(QLatin1Char(' '), 2, 2) == QLatin1String("Z");
}

// A directory of the test's own, with the helper's socket path in it.
class HelperClientTest : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    const QString m_path = m_dir.filePath(QStringLiteral("helper.sock"));
};

} // namespace

TEST_F(HelperClientTest, MapsEveryReplyToItsResultOrError)
{
    ScriptedHelper helper(m_path, [](const QJsonObject& request) -> Answer {
        const QString operation = request.value(Key::operation).toString();
        if (operation == HelperProtocol::startKernel &&
            request.value(Key::logFile).toString() == QLatin1String("bad"))
            return {QJsonObject{{Key::pid, -1}, {Key::error, QStringLiteral("Cannot open log file bad")}}};
        if (operation == HelperProtocol::startKernel)
            return {QJsonObject{{Key::pid, 4242}}};
        if (operation == HelperProtocol::getVersion)
            return {QJsonObject{{Key::version, QStringLiteral("9.9.9")}}};
        if (operation == HelperProtocol::runSystemCommand)
            return {QJsonObject{{Key::success, false},
                                {Key::error, QStringLiteral("Command not allowed: /bin/ls")}}};
        if (operation == HelperProtocol::exitForUpdate)
            return {QJsonObject{{Key::success, false}, {Key::error, QStringLiteral("not yet")}}};
        return {QJsonObject{{Key::success, false}}}; // stopKernel, installUpdate: a refusal without text
    });
    HelperClient client(options(m_path), HelperClient::Timeouts{});

    EXPECT_EQ(
        await(client.startKernel(QStringLiteral("/k/mihomo"), {QStringLiteral("-d"), QStringLiteral("/w")},
                                 {{QStringLiteral("CLASH_OVERRIDE_SECRET"), QStringLiteral("s")}},
                                 QStringLiteral("/l/core.log"))),
        4242);
    const QJsonObject sent = helper.requests().constFirst();
    EXPECT_EQ(sent.value(Key::operation).toString(), HelperProtocol::startKernel);
    EXPECT_EQ(sent.value(Key::executablePath).toString(), QStringLiteral("/k/mihomo"));
    EXPECT_EQ(sent.value(Key::arguments).toArray(), QJsonArray({QStringLiteral("-d"), QStringLiteral("/w")}));
    EXPECT_EQ(sent.value(Key::logFile).toString(), QStringLiteral("/l/core.log"));
    EXPECT_EQ(sent.value(Key::environment).toObject(),
              (QJsonObject{{QStringLiteral("CLASH_OVERRIDE_SECRET"), QStringLiteral("s")}}));

    EXPECT_EQ(test::errorText<HelperClientError>(
                  client.startKernel(QStringLiteral("/k/mihomo"), {}, {}, QStringLiteral("bad"))),
              QStringLiteral("Helper error: Cannot open log file bad"));
    EXPECT_EQ(test::errorText<HelperClientError>(client.stopKernel(4242)),
              QStringLiteral("Helper error: Unknown error"));
    EXPECT_EQ(test::errorText<HelperClientError>(client.runSystemCommand(QStringLiteral("/bin/ls"), {})),
              QStringLiteral("Helper error: Command not allowed: /bin/ls"));
    EXPECT_EQ(
        test::errorText<HelperClientError>(client.installUpdate(QStringLiteral("/a"), QStringLiteral("/b"))),
        QStringLiteral("Helper error: Install failed"));
    EXPECT_FALSE(await(client.exitForUpdate()));
    EXPECT_EQ(await(client.getVersion()), QStringLiteral("9.9.9"));
    // All of it over one cached connection.
    EXPECT_EQ(helper.connections(), 1);
}

TEST_F(HelperClientTest, EachCallGetsItsOwnReplyWhateverTheOrderAndTiming)
{
    ScriptedHelper helper(m_path, [](const QJsonObject& request) -> Answer {
        const QString operation = request.value(Key::operation).toString();
        if (operation == HelperProtocol::getVersion)
            return {QJsonObject{{Key::version, QStringLiteral("slow")}}, 600ms};
        return {QJsonObject{{Key::success, true}}};
    });
    HelperClient::Timeouts impatient;
    impatient.getVersion = 300ms;
    HelperClient client(options(m_path), impatient);

    // The slow version reply comes after its call timed out, and after the next call's own reply.
    EXPECT_EQ(test::errorText<HelperClientError>(client.getVersion()),
              QStringLiteral("Helper error: XPC operation timed out."));
    await(client.stopKernel(7));
    EXPECT_TRUE(waitFor([&] { return helper.requests().size() == 2; }));

    // Two calls in flight at once, answered in the opposite order.
    HelperClient second(options(m_path), HelperClient::Timeouts{});
    QString version;
    bool stopped = false;
    auto versionTask = second.getVersion().then([&](const QString& value) { version = value; });
    auto stopTask = second.stopKernel(8).then([&] { stopped = true; });
    EXPECT_TRUE(waitFor([&] { return stopped && !version.isEmpty(); }));
    EXPECT_EQ(version, QStringLiteral("slow"));
}

TEST_F(HelperClientTest, TimesOutWhenTheHelperAcceptsButNeverAnswers)
{
    ScriptedHelper helper(m_path, [](const QJsonObject&) { return Answer{{}, 0ms, true}; });
    HelperClient client(options(m_path, HelperProcess::executable()), shortTimeouts());

    EXPECT_EQ(test::errorText<HelperClientError>(client.getVersion()),
              QStringLiteral("Helper error: XPC operation timed out."));
    EXPECT_EQ(test::errorText<HelperClientError>(client.stopKernel(1)),
              QStringLiteral("Helper error: XPC operation timed out."));
    EXPECT_EQ(await(client.checkStatus()), HelperStatus::unreachable);
    // A slow helper is not a broken connection.
    EXPECT_EQ(helper.connections(), 1);
}

TEST_F(HelperClientTest, FailsToConnectWithoutAHelperAndRecoversWhenOneComes)
{
    HelperClient client(options(m_path), HelperClient::Timeouts{});
    EXPECT_EQ(test::errorText<HelperClientError>(client.getVersion()),
              QStringLiteral("Failed to connect to privileged helper"));

    ScriptedHelper helper(m_path, [](const QJsonObject&) {
        return Answer{{{Key::version, QStringLiteral("1.0")}}};
    });
    helper.refuseConnections(true);
    EXPECT_EQ(test::errorText<HelperClientError>(client.getVersion()),
              QStringLiteral("Failed to connect to privileged helper"));

    helper.refuseConnections(false);
    EXPECT_EQ(await(client.getVersion()), QStringLiteral("1.0"));
}

TEST_F(HelperClientTest, ASocketPathThatIsARegularFileIsReportedAndLeftAlone)
{
    writeFile(m_path, "not a socket");
    // Able to start a helper, yet it must not try with this path.
    HelperClient client(options(m_path, HelperProcess::executable()), HelperClient::Timeouts{});
    LogCapture log;

    EXPECT_EQ(test::errorText<HelperClientError>(client.getVersion()),
              QStringLiteral("Failed to connect to privileged helper"));
    EXPECT_TRUE(
        log.contains(QStringLiteral("The helper socket path %1 exists and is not a socket").arg(m_path)));
    EXPECT_EQ(await(client.checkStatus()), HelperStatus::unreachable);
    EXPECT_EQ(readFile(m_path), QStringLiteral("not a socket"));
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("helper.log"))));
}

TEST_F(HelperClientTest, StatusComparesTheHelpersVersionWithItsOwn)
{
    QString answered = HelperClient::expectedVersion();
    ScriptedHelper helper(m_path, [&](const QJsonObject&) { return Answer{{{Key::version, answered}}}; });

    HelperClient unregistered(options(m_path), HelperClient::Timeouts{});
    EXPECT_FALSE(unregistered.isRegistered());
    EXPECT_EQ(await(unregistered.checkStatus()), HelperStatus::notRegistered);

    HelperClient client(options(m_path, HelperProcess::executable()), HelperClient::Timeouts{});
    EXPECT_TRUE(client.isRegistered());
    EXPECT_EQ(await(client.checkStatus()), HelperStatus::ok);
    answered = QStringLiteral("0.0.1");
    EXPECT_EQ(await(client.checkStatus()), HelperStatus::outdated);
}

TEST_F(HelperClientTest, StartsTheHelperItselfWhenNoneListensAndStopsItOnUnregister)
{
    const QString path = m_dir.filePath(QStringLiteral("run/helper.sock"));
    HelperClient client(options(path, HelperProcess::executable()), HelperClient::Timeouts{});
    ASSERT_FALSE(socketAcceptsConnections(path));
    // A descriptor the starting process holds without close-on-exec (a shell's lock, say) must not stay
    // open in a helper that outlives it.
    const QString held = m_dir.filePath(QStringLiteral("held.lock"));
    ASSERT_TRUE(QFile(held).open(QIODevice::WriteOnly));
    const int heldFd = ::open(QFile::encodeName(held).constData(), O_RDONLY);
    ASSERT_GE(heldFd, 0);

    EXPECT_EQ(await(client.checkStatus()), HelperStatus::ok);
    ::close(heldFd);
    const std::optional<qint64> pid = HelperRegistration(options(path)).listeningHelperPid();
    ASSERT_TRUE(pid);
    const QString fds = QStringLiteral("/proc/%1/fd").arg(*pid);
    for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System))
        EXPECT_NE(QFile::symLinkTarget(fds + u'/' + fd), held);
    EXPECT_TRUE(readFile(m_dir.filePath(QStringLiteral("run/helper.log")))
                    .contains(QStringLiteral("listening on ") + path));

    // A second client finds it running and does not start another.
    HelperClient other(options(path, HelperProcess::executable()), HelperClient::Timeouts{});
    EXPECT_EQ(await(other.getVersion()), HelperClient::expectedVersion());
    EXPECT_EQ(HelperRegistration(options(path)).listeningHelperPid(), pid);

    await(client.unregisterHelper());
    EXPECT_FALSE(socketAcceptsConnections(path));
    EXPECT_TRUE(waitFor([&] { return processGone(*pid); }));
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(HelperClientTest, RegistersAUserUnitWhereSystemdRuns)
{
    const QString record = m_dir.filePath(QStringLiteral("systemctl.record"));
    const QString pidFile = m_dir.filePath(QStringLiteral("helper.pid"));
    HelperRegistration::Options units = options(m_path, HelperProcess::executable());
    const QString wanted =
        units.unitDirectory + QStringLiteral("/default.target.wants/app.tarnwick.helper.service");
    // Stands in for a user manager: records its calls, links the unit on enable, runs it on restart.
    units.systemctl = m_dir.filePath(QStringLiteral("systemctl"));
    writeFile(units.systemctl,
              QStringLiteral("#!/bin/sh\n"
                             "echo \"$*\" >> '%1'\n"
                             "case \"$*\" in\n"
                             "*' enable '*) mkdir -p '%2' && ln -sf ../app.tarnwick.helper.service '%3' ;;\n"
                             "*' restart '*) '%4' --socket '%5' >/dev/null 2>&1 & echo $! > '%6' ;;\n"
                             "*' disable '*) rm -f '%3'; kill $(cat '%6') ;;\n"
                             "esac\n")
                  .arg(record, QFileInfo(wanted).path(), wanted, HelperProcess::executable(), m_path, pidFile)
                  .toUtf8());
    ASSERT_TRUE(
        QFile::setPermissions(units.systemctl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    HelperClient client(units, HelperClient::Timeouts{});
    EXPECT_FALSE(client.isRegistered());
    EXPECT_EQ(await(client.checkStatus()), HelperStatus::notRegistered);

    await(client.registerHelper());
    EXPECT_TRUE(client.isRegistered());
    EXPECT_EQ(await(client.checkStatus()), HelperStatus::ok);
    EXPECT_EQ(readFile(units.unitDirectory + QStringLiteral("/app.tarnwick.helper.service")),
              QStringLiteral("[Unit]\nDescription=Tarnwick helper: starts and stops the Mihomo kernel\n\n"
                             "[Service]\nExecStart=\"%1\" --socket \"%2\"\nRestart=on-failure\n\n"
                             "[Install]\nWantedBy=default.target\n")
                  .arg(HelperProcess::executable(), m_path));

    // Installed but not enabled: waiting for the user.
    QFile::remove(wanted);
    EXPECT_EQ(HelperRegistration(units).status(), HelperRegistrationStatus::requiresApproval);
    EXPECT_FALSE(client.isRegistered());

    await(client.unregisterHelper());
    EXPECT_FALSE(QFileInfo::exists(units.unitDirectory + QStringLiteral("/app.tarnwick.helper.service")));
    EXPECT_TRUE(waitFor([&] { return !socketAcceptsConnections(m_path); }));
    // Each registration object asks once whether a user manager answers.
    EXPECT_EQ(readFile(record), QStringLiteral("--user show-environment\n"
                                               "--user daemon-reload\n"
                                               "--user enable app.tarnwick.helper.service\n"
                                               "--user restart app.tarnwick.helper.service\n"
                                               "--user show-environment\n"
                                               "--user disable --now app.tarnwick.helper.service\n"
                                               "--user daemon-reload\n"));
}

TEST_F(HelperClientTest, TalksOnlyToItsOwnOrRootsHelperInItsOwnPrivateDirectory)
{
    TARNWICK_REQUIRE_TEST_USER(user);
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0711), 0);
    const QString rule = QStringLiteral("; it must be a directory of yours with mode 0700");
    {
        SCOPED_TRACE("another user made the directory first and listens there");
        const QString theirs = m_dir.filePath(QStringLiteral("theirs"));
        ASSERT_TRUE(QDir().mkdir(theirs) && user.own(theirs));
        ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), 0700), 0);
        HelperClient client(options(theirs + QStringLiteral("/helper.sock"), HelperProcess::executable()),
                            HelperClient::Timeouts{});
        EXPECT_EQ(
            test::errorText<HelperClientError>(client.getVersion()),
            QStringLiteral("Failed to connect to privileged helper: The helper socket directory %1 belongs "
                           "to uid %2")
                    .arg(theirs)
                    .arg(*user.uid()) +
                rule);
        EXPECT_FALSE(QFileInfo::exists(theirs + QStringLiteral("/helper.sock")));
    }
    {
        SCOPED_TRACE("a directory of ours that others may enter");
        const QString open = m_dir.filePath(QStringLiteral("open"));
        ASSERT_TRUE(QDir().mkdir(open));
        ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0755), 0);
        HelperClient client(options(open + QStringLiteral("/helper.sock")), HelperClient::Timeouts{});
        EXPECT_EQ(
            test::errorText<HelperClientError>(client.getVersion()),
            QStringLiteral("Failed to connect to privileged helper: The helper socket directory %1 has mode "
                           "0755")
                    .arg(open) +
                rule);
    }
    {
        SCOPED_TRACE("the other user's helper, its socket moved into our private directory");
        const QString theirs = m_dir.filePath(QStringLiteral("run"));
        ASSERT_TRUE(QDir().mkdir(theirs) && user.own(theirs));
        ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), 0700), 0);
        QProcess foreign;
        foreign.setProcessChannelMode(QProcess::MergedChannels);
        foreign.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=%1").arg(*user.uid()),
                       QStringLiteral("--regid=%1").arg(user.gid()), QStringLiteral("--clear-groups"),
                       QStringLiteral("--"), HelperProcess::executable(), QStringLiteral("--socket"),
                       theirs + QStringLiteral("/helper.sock")});
        ASSERT_TRUE(waitFor([&] {
            return socketAcceptsConnections(theirs + QStringLiteral("/helper.sock"));
        })) << foreign.readAll().toStdString();
        QTemporaryDir ours;
        const QString moved = ours.filePath(QStringLiteral("helper.sock"));
        ASSERT_EQ(::rename(QFile::encodeName(theirs + QStringLiteral("/helper.sock")).constData(),
                           QFile::encodeName(moved).constData()),
                  0);
        ASSERT_TRUE(socketAcceptsConnections(moved));
        HelperClient client(options(moved), HelperClient::Timeouts{});
        EXPECT_EQ(
            test::errorText<HelperClientError>(client.getVersion()),
            QStringLiteral("Failed to connect to privileged helper: The process listening on %1 runs as uid "
                           "%2, neither yours nor root's")
                .arg(moved)
                .arg(*user.uid()));
        foreign.terminate();
        EXPECT_TRUE(foreign.waitForFinished(10000));
    }
}
