#include "CoreSupervisor.h"

#include "CoreXPCLauncher.h"
#include "config/KernelCommand.h"
#include "controller/ControllerEndpoint.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QCoro/QCoroTimer>

namespace tarnwick {

using namespace std::chrono_literals;

CoreSupervisor::CoreSupervisor(ClashPaths paths, CoreXPCLauncher& launcher, Settings& settings)
    : m_paths(std::move(paths)), m_launcher(launcher), m_settings(settings)
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

    try {
        co_await m_launcher.runSystemCommand(KernelCommand::orphanCleanupCommand,
                                             KernelCommand::orphanCleanupArguments());
        qCDebug(lcCoreSupervisor, "Orphan cleanup successful");
    } catch (const std::exception& error) {
        qCDebug(lcCoreSupervisor, "Orphan cleanup skipped: %s", qUtf8Printable(describe(error)));
    }

    m_paths.prepare();

    const ControllerEndpoint endpoint = ControllerEndpoint::fromSettings(m_settings);
    const QStringList arguments = KernelCommand::runArguments(
        m_paths.workDirectory(), m_paths.runtimeConfigFile(), endpoint.host, endpoint.port, endpoint.secret);
    const qint32 pid =
        co_await m_launcher.startKernel(m_paths.managedCoreExecutable(), arguments, m_paths.coreLogFile());
    qCInfo(lcCoreSupervisor, "Kernel started (PID: %d)", pid);
    m_currentPID = pid;
    m_isRunning = true;
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
    co_await m_launcher.stopKernel(*m_currentPID);
    m_currentPID.reset();
    m_isRunning = false;
}

QCoro::Task<qint32> CoreSupervisor::restart()
{
    auto lock = co_await m_mutex.lock();
    if (!m_isRunning)
        co_return co_await startLocked();
    if (m_currentPID)
        co_await m_launcher.stopKernel(*m_currentPID);
    m_currentPID.reset();
    m_isRunning = false;
    // A moment for the old kernel's ports to be released.
    co_await QCoro::sleepFor(50ms);
    co_return co_await startLocked();
}

} // namespace tarnwick
