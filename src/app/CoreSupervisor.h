#pragma once

#include "config/ClashPaths.h"
#include "config/KernelRestarter.h"
#include "platform/AsyncMutex.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <optional>

namespace tarnwick {

class CoreXPCLauncher;
class Settings;

// Owns the kernel process: builds its command line, has the helper launch or stop it and remembers the
// pid. One operation at a time; a start while running returns the running kernel's pid. While a kernel it
// started runs, it watches for the kernel's end through the helper and reports an end it did not cause.
class CoreSupervisor final : public QObject, public KernelRestarter
{
    Q_OBJECT

public:
    CoreSupervisor(ClashPaths paths, CoreXPCLauncher& launcher, Settings& settings,
                   QObject* parent = nullptr);

    QCoro::Task<qint32> start();
    // Forgets the kernel first: when the helper cannot stop it (it restarted and no longer knows the pid)
    // the error is passed on, and the next start's orphan clean-up ends whatever is left.
    QCoro::Task<> stop();
    QCoro::Task<qint32> restart() override;

    std::optional<qint32> currentPID() const { return m_currentPID; }
    bool isRunning() const { return m_isRunning; }

    // How long one wait of the watch may last before it asks the helper again.
    static constexpr std::chrono::milliseconds watchInterval{20000};
    // The pause before asking again when the helper could not be reached.
    static constexpr std::chrono::milliseconds watchRetryDelay{500};

Q_SIGNALS:
    // The kernel ended without being stopped (crash, out of memory, kill -9), or the helper lost it;
    // `description` says how ("killed by signal 9"). The supervisor has already forgotten it.
    void kernelExited(qint32 pid, QString description);

private:
    QCoro::Task<qint32> startLocked();
    QCoro::Task<> stopLocked();
    static QCoro::Task<> watch(QPointer<CoreSupervisor> self, qint32 pid);
    void forget();

    ClashPaths m_paths;
    CoreXPCLauncher& m_launcher;
    Settings& m_settings;
    AsyncMutex m_mutex;
    std::optional<qint32> m_currentPID;
    bool m_isRunning = false;
};

} // namespace tarnwick
