#pragma once

#include "CoreXPCLauncher.h"

#include <QSet>
#include <QString>
#include <memory>

namespace tarnwick {

class HelperClient;

// Sends each kernel to the helper that can run it as wanted: the user's privileged helper (a system
// service that gives the kernel network administration, for TUN mode) when it is installed, else the
// user-mode helper. Everything else goes to the user-mode helper, which serves the user's desktop session.
class KernelLaunchRouter final : public CoreXPCLauncher
{
public:
    // `privilegedSocket`: where the privileged helper listens when it is installed.
    KernelLaunchRouter(HelperClient& helper, QString privilegedSocket);
    ~KernelLaunchRouter() override;

    // Whether the privileged helper is installed (its socket is there).
    bool privilegedAvailable() const;

    QCoro::Task<qint32> startKernel(QString executablePath, QStringList arguments,
                                    QMap<QString, QString> environment, QString logFile) override;
    QCoro::Task<> stopKernel(qint32 pid) override;
    QCoro::Task<> runSystemCommand(QString command, QStringList arguments) override;
    QCoro::Task<std::optional<QString>> waitForKernelExit(qint32 pid,
                                                          std::chrono::milliseconds bound) override;

private:
    CoreXPCLauncher& launcherOf(qint32 pid);

    HelperClient& m_helper;
    QString m_privilegedSocket;
    std::unique_ptr<HelperClient> m_privileged;
    QSet<qint32> m_privilegedKernels;
};

} // namespace tarnwick
