#include "KernelLauncher.h"

#include "HelperError.h"
#include "NetworkPrivileges.h"
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
#include <sys/stat.h>
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

// Everything the child needs, prepared before the fork: after it, only async-signal-safe calls are allowed.
struct ChildSetup
{
    QByteArray program;
    std::vector<QByteArray> argumentStorage;
    std::vector<QByteArray> environmentStorage;
    std::vector<char*> argv;
    std::vector<char*> envp;
    int logFd = -1;
    int reportFd = -1; // the child writes its errno here when it cannot exec
    const UserAccount* runAs = nullptr;
    bool networkCapabilities = false;
};

std::vector<char*> pointersTo(std::vector<QByteArray>& storage)
{
    std::vector<char*> pointers;
    pointers.reserve(storage.size() + 1);
    for (QByteArray& entry : storage)
        pointers.push_back(entry.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The helper's environment for a kernel: its own CLASH_ overrides are never passed on, a kernel run as
// another user gets that user's name and home, and the request's variables come last.
std::vector<QByteArray> kernelEnvironment(const std::optional<UserAccount>& runAs, const QStringList& extra)
{
    std::vector<QByteArray> entries;
    const auto replacedForUser = [&](const QByteArray& entry) {
        return runAs &&
               (entry.startsWith("HOME=") || entry.startsWith("USER=") || entry.startsWith("LOGNAME="));
    };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const QByteArray text(*entry);
        if (!text.startsWith("CLASH_") && !replacedForUser(text))
            entries.push_back(text);
    }
    if (runAs) {
        entries.push_back("HOME=" + runAs->home);
        entries.push_back("USER=" + runAs->name);
        entries.push_back("LOGNAME=" + runAs->name);
    }
    for (const QString& variable : extra)
        entries.push_back(variable.toUtf8());
    return entries;
}

[[noreturn]] void failInChild(int reportFd, int error)
{
    ssize_t written = 0;
    do {
        written = ::write(reportFd, &error, sizeof error);
    } while (written < 0 && errno == EINTR);
    ::_exit(127);
}

// In the forked child: its own process group, default signal handling (the helper's handlers and ignored
// signals are no business of the kernel), the log as output, the user's identity when it has one, then the
// kernel.
[[noreturn]] void execChild(const ChildSetup& setup)
{
    ::setpgid(0, 0);
    struct sigaction defaultAction
    {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber != SIGKILL && signalNumber != SIGSTOP)
            ::sigaction(signalNumber, &defaultAction, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0 || ::dup2(setup.logFd, STDOUT_FILENO) < 0 ||
        ::dup2(setup.logFd, STDERR_FILENO) < 0)
        failInChild(setup.reportFd, errno);
    if (setup.runAs) {
        const int result = setup.networkCapabilities
                               ? NetworkPrivileges::becomeWithNetworkCapabilities(*setup.runAs)
                               : NetworkPrivileges::become(*setup.runAs);
        if (result != 0)
            failInChild(setup.reportFd, result);
    }
    ::execve(setup.program.constData(), setup.argv.data(), setup.envp.data());
    failInChild(setup.reportFd, errno);
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

int KernelLauncher::openLog(const QString& logFile) const
{
    const QByteArray path = QFile::encodeName(logFile);
    int fd = -1;
    int openError = 0;
    {
        const FileSystemIdentity identity(m_runAs);
        fd =
            ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        openError = errno;
    }
    if (fd < 0)
        throw HelperError(
            QStringLiteral("Cannot open log file %1: %2").arg(logFile, qt_error_string(openError)));
    struct stat info
    {};
    const uid_t owner = m_runAs ? m_runAs->uid : ::geteuid();
    QString refusal;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        refusal = QStringLiteral("The log file %1 is not a regular file").arg(logFile);
    else if (info.st_uid != owner)
        refusal = QStringLiteral("The log file %1 belongs to uid %2, not uid %3")
                      .arg(logFile)
                      .arg(info.st_uid)
                      .arg(owner);
    if (!refusal.isEmpty()) {
        ::close(fd);
        throw HelperError(refusal);
    }
    return fd;
}

qint32 KernelLauncher::start(const QString& executable, const QStringList& arguments,
                             const QStringList& environment, const QString& logFile)
{
    ChildSetup setup;
    setup.program = QFile::encodeName(executable);
    setup.argumentStorage.push_back(KernelCommand::processName.toUtf8());
    for (const QString& argument : arguments)
        setup.argumentStorage.push_back(argument.toUtf8());
    setup.argv = pointersTo(setup.argumentStorage);
    setup.environmentStorage = kernelEnvironment(m_runAs, environment);
    setup.envp = pointersTo(setup.environmentStorage);
    setup.runAs = m_runAs ? &*m_runAs : nullptr;
    setup.networkCapabilities = m_networkCapabilities;

    setup.logFd = openLog(logFile);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(setup.logFd);
        throw HelperError(QStringLiteral("Failed to start %1: %2").arg(executable, qt_error_string(error)));
    }
    setup.reportFd = report[1];

    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(setup);
    const int forkError = errno;
    ::close(report[1]);
    ::close(setup.logFd);
    if (pid < 0) {
        ::close(report[0]);
        throw HelperError(
            QStringLiteral("Failed to start %1: %2").arg(executable, qt_error_string(forkError)));
    }
    // The report end closes on exec; an errno arriving instead means the child never became the kernel.
    int childError = 0;
    ssize_t received = 0;
    do {
        received = ::read(report[0], &childError, sizeof childError);
    } while (received < 0 && errno == EINTR);
    ::close(report[0]);
    if (received == static_cast<ssize_t>(sizeof childError)) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        throw HelperError(
            QStringLiteral("Failed to start %1: %2").arg(executable, qt_error_string(childError)));
    }

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
