#include "KernelLauncher.h"

#include "HelperError.h"
#include "config/KernelCommand.h"
#include "platform/Logging.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <qcoro/qcorotimer.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarnwick {

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 20ms;
// After SIGKILL the kernel has nothing left to do but go.
constexpr auto kKillBound = 2s;

void signalGroup(qint32 pid, int signalNumber)
{
    if (::kill(-pid, signalNumber) != 0)
        ::kill(pid, signalNumber);
}

// Owns the posix_spawn structures for one start.
class SpawnSetup final
{
public:
    explicit SpawnSetup(int logFd)
    {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&m_actions, logFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&m_actions, logFd, STDERR_FILENO);

        posix_spawnattr_init(&m_attributes);
        posix_spawnattr_setflags(&m_attributes,
                                 POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawnattr_setpgroup(&m_attributes, 0);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        // The helper's own handlers and ignored signals are no business of the kernel.
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signalNumber = 1; signalNumber < 32; ++signalNumber) {
            if (signalNumber != SIGKILL && signalNumber != SIGSTOP)
                sigaddset(&defaults, signalNumber);
        }
        posix_spawnattr_setsigdefault(&m_attributes, &defaults);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

// fork and exec, becoming the user with network administration in between (posix_spawn cannot change
// capabilities). Returns 0 or the errno of what failed, in the child as well.
int spawnAs(pid_t* pid, const char* program, int logFd, char* const argv[],
            const NetworkPrivileges::KernelIdentity& identity)
{
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(errors[0]);
        ::close(errors[1]);
        return error;
    }
    if (child == 0) {
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int signalNumber = 1; signalNumber < 32; ++signalNumber) {
            if (signalNumber != SIGKILL && signalNumber != SIGSTOP)
                ::signal(signalNumber, SIG_DFL);
        }
        const int input = ::open("/dev/null", O_RDONLY);
        int result = input < 0 || ::dup2(input, STDIN_FILENO) < 0 || ::dup2(logFd, STDOUT_FILENO) < 0 ||
                             ::dup2(logFd, STDERR_FILENO) < 0
                         ? errno
                         : NetworkPrivileges::becomeWithNetworkCapabilities(identity);
        if (result == 0) {
            ::execve(program, argv, environ);
            result = errno;
        }
        [[maybe_unused]] const ssize_t written = ::write(errors[1], &result, sizeof result);
        ::_exit(127);
    }
    ::close(errors[1]);
    int childError = 0;
    const ssize_t got = ::read(errors[0], &childError, sizeof childError);
    ::close(errors[0]);
    if (got == sizeof childError) {
        int status = 0;
        ::waitpid(child, &status, 0);
        return childError;
    }
    *pid = child;
    return 0;
}

} // namespace

KernelLauncher::KernelLauncher(std::chrono::milliseconds stopGrace, QObject* parent)
    : QObject(parent), m_stopGrace(stopGrace)
{}

KernelLauncher::~KernelLauncher()
{
    // Nobody waits for these ends any more.
    blockSignals(true);
    stopAllNow();
}

qint32 KernelLauncher::start(const QString& executable, const QStringList& arguments, const QString& logFile)
{
    const QByteArray logPath = QFile::encodeName(logFile);
    const int logFd = ::open(logPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (logFd < 0)
        throw HelperError(QStringLiteral("Cannot open log file %1: %2").arg(logFile, qt_error_string(errno)));

    const QByteArray program = QFile::encodeName(executable);
    std::vector<QByteArray> storage;
    storage.reserve(static_cast<size_t>(arguments.size()) + 1);
    storage.push_back(KernelCommand::processName.toUtf8());
    for (const QString& argument : arguments)
        storage.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    int result = 0;
    if (m_identity) {
        result = spawnAs(&pid, program.constData(), logFd, argv.data(), *m_identity);
    } else {
        const SpawnSetup setup(logFd);
        result = ::posix_spawn(&pid, program.constData(), setup.actions(), setup.attributes(), argv.data(),
                               environ);
    }
    ::close(logFd);
    if (result != 0)
        throw HelperError(QStringLiteral("Failed to start %1: %2").arg(executable, qt_error_string(result)));

    m_running.insert(pid, true);
    qCInfo(lcHelper, "Kernel started (PID: %d)", pid);
    return pid;
}

QCoro::Task<> KernelLauncher::stop(qint32 pid)
{
    if (!m_running.contains(pid))
        throw HelperError(QStringLiteral("PID %1 was not started by the helper").arg(pid));

    QPointer<KernelLauncher> self(this);
    if (!reapIfExited(pid)) {
        signalGroup(pid, SIGTERM);
        bool exited = co_await waitForExit(pid, m_stopGrace);
        if (!self)
            throw HelperError(QStringLiteral("The helper is shutting down"));
        if (!exited) {
            qCWarning(lcHelper, "Kernel (PID %d) still running after SIGTERM; sending SIGKILL", pid);
            signalGroup(pid, SIGKILL);
            exited = co_await waitForExit(pid, kKillBound);
            if (!self)
                throw HelperError(QStringLiteral("The helper is shutting down"));
        }
        if (!exited)
            throw HelperError(QStringLiteral("Kernel (PID %1) did not exit").arg(pid));
    }
    m_running.remove(pid);
    m_exits.remove(pid);
    qCInfo(lcHelper, "Kernel stopped (PID: %d)", pid);
}

void KernelLauncher::reap()
{
    const QList<qint32> pids = m_running.keys();
    for (const qint32 pid : pids)
        reapIfExited(pid);
}

bool KernelLauncher::reapIfExited(qint32 pid)
{
    auto it = m_running.find(pid);
    if (it == m_running.end() || !it.value())
        return true;
    int status = 0;
    const pid_t result = ::waitpid(pid, &status, WNOHANG);
    if (result == 0 || (result < 0 && errno == EINTR))
        return false;
    it.value() = false;
    QString description = QStringLiteral("vanished");
    if (result == pid && WIFSIGNALED(status))
        description = QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
    else if (result == pid)
        description = QStringLiteral("exited with status %1").arg(WEXITSTATUS(status));
    qCInfo(lcHelper, "Kernel (PID %d) %s", pid, qUtf8Printable(description));
    m_exits.insert(pid, description);
    Q_EMIT exited(pid);
    return true;
}

void KernelLauncher::forgetExited(qint32 pid)
{
    if (m_running.value(pid, true))
        return;
    m_running.remove(pid);
    m_exits.remove(pid);
}

QCoro::Task<bool> KernelLauncher::waitForExit(qint32 pid, std::chrono::milliseconds bound)
{
    QPointer<KernelLauncher> self(this);
    const QDeadlineTimer deadline(bound);
    while (!reapIfExited(pid)) {
        if (deadline.hasExpired())
            co_return false;
        co_await QCoro::sleepFor(kPollInterval);
        if (!self)
            co_return false;
    }
    co_return true;
}

void KernelLauncher::stopAllNow()
{
    QList<qint32> running;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        if (it.value())
            running.append(it.key());
    }
    for (const qint32 pid : running)
        signalGroup(pid, SIGTERM);
    QDeadlineTimer deadline(m_stopGrace);
    auto stillRunning = [&] {
        QList<qint32> left;
        for (const qint32 pid : running) {
            if (!reapIfExited(pid))
                left.append(pid);
        }
        return left;
    };
    while (!(running = stillRunning()).isEmpty() && !deadline.hasExpired())
        QThread::msleep(static_cast<unsigned long>(kPollInterval.count()));
    for (const qint32 pid : running) {
        signalGroup(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    m_running.clear();
}

} // namespace tarnwick
