#pragma once

#include "UserAccount.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

namespace tarnwick {

// Starts kernels and stops them again. Only processes it started can be stopped; each runs in its own
// process group, so that stopping it also ends whatever it spawned. A launcher that runs its kernels as
// another user opens their logs with that user's rights as well: a helper running as root for a user then
// gives that user nothing the user did not have (network administration in the privileged mode aside).
class KernelLauncher final : public QObject
{
    Q_OBJECT

public:
    // stopGrace: how long a kernel may take to exit after SIGTERM before it gets SIGKILL.
    explicit KernelLauncher(std::chrono::milliseconds stopGrace, QObject* parent = nullptr);

    // The kernels run as this user; with networkCapabilities (the privileged mode) they keep network
    // administration and nothing else.
    void runAs(UserAccount user, bool networkCapabilities)
    {
        m_runAs = std::move(user);
        m_networkCapabilities = networkCapabilities;
    }
    // Stops every kernel still running, so that none outlives the helper.
    ~KernelLauncher() override;

    // Starts the executable with argv[0] set to the kernel's process name (its command line then reads
    // "mihomo -d ..."), standard input from /dev/null, standard output and error appended to the log file,
    // the helper's environment without its CLASH_ variables plus `environment` ("NAME=value" entries).
    // The log is never reached through a symbolic link and must be a regular file of the kernel's user.
    // Returns the pid; throws HelperError when the log file cannot be opened or the start fails.
    qint32 start(const QString& executable, const QStringList& arguments, const QStringList& environment,
                 const QString& logFile);

    // SIGTERM to the kernel's group, SIGKILL after the grace period, then reaped. A kernel that already
    // exited on its own counts as stopped. Throws HelperError for a pid this launcher did not start.
    QCoro::Task<> stop(qint32 pid);

    // Collects kernels that exited on their own (called on SIGCHLD).
    void reap();

    bool isRunning(qint32 pid) const { return m_running.value(pid, false); }
    // Whether the pid is a kernel this launcher started and has not stopped or forgotten.
    bool knows(qint32 pid) const { return m_running.contains(pid); }
    // How a kernel that exited on its own ended ("killed by signal 9", "exited with status 2").
    QString exitDescription(qint32 pid) const { return m_exits.value(pid); }
    // Drops a kernel that exited on its own once its end was reported; a running one is kept.
    void forgetExited(qint32 pid);

Q_SIGNALS:
    // A kernel this launcher started has ended, on its own or stopped.
    void exited(qint32 pid);

private:
    bool reapIfExited(qint32 pid);
    QCoro::Task<bool> waitForExit(qint32 pid, std::chrono::milliseconds bound);
    void stopAllNow();
    int openLog(const QString& logFile) const;

    std::chrono::milliseconds m_stopGrace;
    std::optional<UserAccount> m_runAs;
    bool m_networkCapabilities = false;
    QHash<qint32, bool> m_running;  // every pid started and not yet stopped -> still running
    QHash<qint32, QString> m_exits; // how the kernels that exited on their own ended
};

} // namespace tarnwick
