#include "CoreSupervisor.h"

#include "CoreXPCLauncher.h"
#include "HelperClientError.h"
#include "OrphanKernels.h"
#include "config/KernelCommand.h"
#include "controller/ControllerEndpoint.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QCoro/QCoroTimer>

namespace tarnwick {

using namespace std::chrono_literals;

CoreSupervisor::CoreSupervisor(ClashPaths paths, CoreXPCLauncher& launcher, Settings& settings,
                               QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_launcher(launcher), m_settings(settings)
{}

QCoro::Task<qint32> CoreSupervisor::start()
{
    auto lock = co_await m_mutex.lock();
    co_return co_await startLocked();
}

QCoro::Task<qint32> CoreSupervisor::startLocked()
{
    if (m_isRunning) {
        const qint32 pid = m_currentPID.value_or(-1);
        qCCritical(lcCoreSupervisor, "Attempted to start kernel but it is already running (PID: %d)", pid);
        co_return pid;
    }
    qCInfo(lcCoreSupervisor, "Kernel starting...");

    // Kernels of this workspace left behind by an earlier session would hold its ports.
    QPointer<CoreSupervisor> self(this);
    const QList<qint32> orphans = co_await OrphanKernels::stop(m_paths.workDirectory());
    if (!self)
        throw Error(QStringLiteral("The kernel supervisor has gone"));
    for (const qint32 orphan : orphans)
        qCInfo(lcCoreSupervisor, "Killed an orphaned kernel of this workspace (PID: %d)", orphan);

    m_paths.prepare();

    const ControllerEndpoint endpoint = ControllerEndpoint::fromSettings(m_settings);
    const QStringList arguments = KernelCommand::runArguments(
        m_paths.workDirectory(), m_paths.runtimeConfigFile(), endpoint.host, endpoint.port);
    const qint32 pid = co_await m_launcher.startKernel(m_paths.managedCoreExecutable(), arguments,
                                                       KernelCommand::runEnvironment(endpoint.secret),
                                                       m_paths.coreLogFile());
    qCInfo(lcCoreSupervisor, "Kernel started (PID: %d)", pid);
    m_currentPID = pid;
    m_isRunning = true;
    watch(this, pid);
    co_return pid;
}

QCoro::Task<> CoreSupervisor::stop()
{
    auto lock = co_await m_mutex.lock();
    co_await stopLocked();
}

QCoro::Task<> CoreSupervisor::stopLocked()
{
    if (!m_currentPID)
        co_return;
    // Forgotten before the helper is asked: a kernel the helper cannot stop is no longer ours to report.
    const qint32 pid = *m_currentPID;
    forget();
    co_await m_launcher.stopKernel(pid);
}

QCoro::Task<qint32> CoreSupervisor::restart()
{
    auto lock = co_await m_mutex.lock();
    if (!m_isRunning)
        co_return co_await startLocked();
    co_await stopLocked();
    // A moment for the old kernel's ports to be released.
    co_await QCoro::sleepFor(50ms);
    co_return co_await startLocked();
}

void CoreSupervisor::forget()
{
    m_currentPID.reset();
    m_isRunning = false;
}

QCoro::Task<> CoreSupervisor::watch(QPointer<CoreSupervisor> self, qint32 pid)
{
    const auto stillOurs = [&] { return self && self->m_currentPID == pid; };
    try {
        while (stillOurs()) {
            std::optional<QString> end;
            QString helperSays;
            bool reachable = true;
            try {
                end = co_await self->m_launcher.waitForKernelExit(pid, watchInterval);
            } catch (const HelperClientError& error) {
                // The helper answered that it does not know the kernel: it restarted and lost it.
                reachable = error.kind() == HelperClientError::Kind::helperError &&
                            error.message() != HelperClientError::timedOutMessage();
                if (reachable) {
                    end = QStringLiteral("the helper no longer knows it");
                    helperSays = error.message();
                }
            }
            if (!stillOurs())
                co_return;
            if (end) {
                qCWarning(lcCoreSupervisor, "Kernel (PID %d) ended unexpectedly: %s %s", pid,
                          qUtf8Printable(*end), qUtf8Printable(helperSays));
                self->forget();
                Q_EMIT self->kernelExited(pid, *end);
                co_return;
            }
            if (!reachable)
                co_await QCoro::sleepFor(watchRetryDelay);
        }
    } catch (const std::exception& error) {
        qCWarning(lcCoreSupervisor, "Watching the kernel (PID %d) failed: %s", pid,
                  qUtf8Printable(describe(error)));
    }
}

} // namespace tarnwick
