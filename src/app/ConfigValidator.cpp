#include "ConfigValidator.h"

#include "ConfigValidationError.h"
#include "config/KernelCommand.h"
#include "platform/Logging.h"

#include <QCoro/QCoroThread>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <memory>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnwick {

namespace {

using namespace std::chrono_literals;

// The pipe's bytes, shared between the reader thread and the waiting code.
struct OutputBox
{
    std::mutex mutex;
    QByteArray bytes;
};

struct Outcome
{
    enum class Kind
    {
        exited,
        launchFailed,
        timedOut
    } kind = Kind::exited;
    int status = 0;
    QString launchError;
    QString output;
};

QString decodeTrimmed(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text.trimmed();
}

bool reap(pid_t pid, int& status)
{
    int raw = 0;
    if (::waitpid(pid, &raw, WNOHANG) != pid)
        return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : (WIFSIGNALED(raw) ? WTERMSIG(raw) : raw);
    return true;
}

Outcome runTest(const QByteArray& executable, const QByteArray& workDirectory,
                const QList<QByteArray>& arguments, double timeoutSeconds)
{
    Outcome outcome;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        outcome.kind = Outcome::Kind::launchFailed;
        outcome.launchError = QString::fromLocal8Bit(std::strerror(errno));
        return outcome;
    }

    // The reader starts before the launch and reads to the pipe's end.
    auto box = std::make_shared<OutputBox>();
    std::promise<void> readerDone;
    std::future<void> readerFinished = readerDone.get_future();
    std::thread reader([fd = fds[0], box, done = std::move(readerDone)]() mutable {
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(box->mutex);
                box->bytes.append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(fd);
        done.set_value();
    });

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDirectory.constData());
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.constData()));
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, executable.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);

    auto waitForReader = [&](std::chrono::milliseconds bound) {
        if (readerFinished.wait_for(bound) == std::future_status::ready)
            reader.join();
        else
            reader.detach(); // a grandchild still holds the pipe; the reader ends when it lets go
    };

    if (spawnError != 0) {
        waitForReader(1s);
        outcome.kind = Outcome::Kind::launchFailed;
        outcome.launchError = QString::fromLocal8Bit(std::strerror(spawnError));
        return outcome;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(timeoutSeconds));
    bool exited = reap(pid, outcome.status);
    while (!exited && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        exited = reap(pid, outcome.status);
    }
    if (!exited) {
        outcome.kind = Outcome::Kind::timedOut;
        ::kill(pid, SIGTERM);
        std::this_thread::sleep_for(500ms);
        if (!reap(pid, outcome.status)) {
            ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(200ms);
            if (!reap(pid, outcome.status))
                ::waitpid(pid, nullptr, 0); // SIGKILL cannot be ignored; this returns at once
        }
    }

    waitForReader(1s);
    std::lock_guard lock(box->mutex);
    outcome.output = decodeTrimmed(box->bytes);
    return outcome;
}

} // namespace

ConfigValidator::ConfigValidator(QString executable, QString workDirectory, double timeoutSeconds)
    : m_executable(std::move(executable)), m_workDirectory(std::move(workDirectory)),
      m_timeout(timeoutSeconds)
{}

ConfigValidator::ConfigValidator(const ClashPaths& paths, double timeoutSeconds)
    : ConfigValidator(paths.managedCoreExecutable(), paths.workDirectory(), timeoutSeconds)
{}

QCoro::Task<> ConfigValidator::validate(QString configFile) const
{
    const QFileInfo info(m_executable);
    if (!info.isFile() || !info.isExecutable())
        throw ConfigValidationError::binaryNotFound(m_executable);

    QList<QByteArray> arguments;
    for (const QString& argument : KernelCommand::testArguments(m_workDirectory, configFile))
        arguments.append(QFile::encodeName(argument));
    const QByteArray executable = QFile::encodeName(m_executable);
    const QByteArray workDirectory = QFile::encodeName(m_workDirectory);
    const double timeout = m_timeout;

    auto outcome = std::make_shared<Outcome>();
    std::unique_ptr<QThread> thread(
        QThread::create([=] { *outcome = runTest(executable, workDirectory, arguments, timeout); }));
    thread->start();
    co_await qCoro(thread.get()).waitForFinished();

    switch (outcome->kind) {
    case Outcome::Kind::launchFailed:
        throw ConfigValidationError::launchFailed(outcome->launchError);
    case Outcome::Kind::timedOut:
        throw ConfigValidationError::timedOut(std::max(1, static_cast<int>(timeout)), outcome->output);
    case Outcome::Kind::exited:
        break;
    }
    if (outcome->status == 0 || KernelCommand::testOutputCountsAsValid(outcome->output))
        co_return;
    qCDebug(lcConfigValidator, "Configuration test failed with status %d", outcome->status);
    throw ConfigValidationError::failed(outcome->status, outcome->output);
}

} // namespace tarnwick
