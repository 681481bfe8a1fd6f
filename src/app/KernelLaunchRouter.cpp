#include "KernelLaunchRouter.h"

#include "HelperClient.h"
#include "platform/Logging.h"

#include <QFileInfo>

namespace tarnwick {

KernelLaunchRouter::KernelLaunchRouter(HelperClient& helper, QString privilegedSocket)
    : m_helper(helper), m_privilegedSocket(std::move(privilegedSocket))
{
    HelperRegistration::Options options;
    options.socketPath = m_privilegedSocket;
    // Installed by an administrator: never started from here.
    options.systemctl = QStringLiteral("/bin/false");
    m_privileged = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});
}

KernelLaunchRouter::~KernelLaunchRouter() = default;

bool KernelLaunchRouter::privilegedAvailable() const
{
    return !m_privilegedSocket.isEmpty() && QFileInfo(m_privilegedSocket).exists();
}

CoreXPCLauncher& KernelLaunchRouter::launcherOf(qint32 pid)
{
    if (m_privilegedKernels.contains(pid))
        return *m_privileged;
    return m_helper;
}

QCoro::Task<qint32> KernelLaunchRouter::startKernel(QString executablePath, QStringList arguments,
                                                    QMap<QString, QString> environment, QString logFile)
{
    if (!privilegedAvailable())
        co_return co_await m_helper.startKernel(executablePath, arguments, environment, logFile);
    const qint32 pid = co_await m_privileged->startKernel(executablePath, arguments, environment, logFile);
    m_privilegedKernels.insert(pid);
    qCInfo(lcAppState, "Kernel (PID %d) runs with network privileges", pid);
    co_return pid;
}

QCoro::Task<> KernelLaunchRouter::stopKernel(qint32 pid)
{
    CoreXPCLauncher& launcher = launcherOf(pid);
    co_await launcher.stopKernel(pid);
    m_privilegedKernels.remove(pid);
}

QCoro::Task<> KernelLaunchRouter::runSystemCommand(QString command, QStringList arguments)
{
    co_await m_helper.runSystemCommand(command, arguments);
}

QCoro::Task<std::optional<QString>> KernelLaunchRouter::waitForKernelExit(qint32 pid,
                                                                          std::chrono::milliseconds bound)
{
    co_return co_await launcherOf(pid).waitForKernelExit(pid, bound);
}

} // namespace tarnwick
