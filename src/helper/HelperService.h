#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <chrono>
#include <qcoro/qcorotask.h>
#include <sys/types.h>

class QTimer;

namespace tarnwick {

class KernelLauncher;
class NetworkSetupBackend;

// The helper's operations: reads one request object and produces its reply (HelperProtocol).
class HelperService final : public QObject
{
    Q_OBJECT

public:
    // user: the one user served; kernels and bundles are accepted only from that user's directories.
    // commandBound: how long an allowed system command may run; below the application's 15 s time-out so
    // that it hears why.
    HelperService(KernelLauncher* launcher, uid_t user,
                  std::chrono::milliseconds commandBound = std::chrono::seconds(12),
                  QObject* parent = nullptr);

    // The privileged mode only starts and stops kernels: system commands and updates are the user-mode
    // helper's, which runs with the user's own rights.
    void setPrivileged(bool privileged) { m_privileged = privileged; }
    // Carries out the network-setup commands; without one they are refused.
    void setNetworkBackend(NetworkSetupBackend* backend) { m_network = backend; }

    // Never throws: every failure becomes the reply's error text. `client`: the pid of the process that
    // sent the request (0 when unknown); the kernels it starts are stopped when it ends.
    QCoro::Task<QJsonObject> handle(QJsonObject request, qint64 client = 0);

    // exitForUpdate ends the helper this long after its reply, with this status.
    static constexpr std::chrono::milliseconds exitForUpdateDelay{200};
    static constexpr int exitForUpdateStatus = 75;

    // How often the processes that started kernels are checked for.
    static constexpr std::chrono::milliseconds clientCheckInterval{250};

private:
    QJsonObject startKernel(const QJsonObject& request, qint64 client);
    void stopOrphanedKernels();
    static QCoro::Task<> stopKernelOf(QPointer<KernelLauncher> launcher, qint32 pid);
    QJsonObject installUpdate(const QJsonObject& request) const;
    QCoro::Task<QJsonObject> stopKernel(QJsonObject request);
    QCoro::Task<QJsonObject> waitForKernelExit(QJsonObject request);
    QCoro::Task<QJsonObject> runSystemCommand(QString command, QStringList arguments, qint64 client);

    KernelLauncher* m_launcher;
    uid_t m_user;
    std::chrono::milliseconds m_commandBound;
    NetworkSetupBackend* m_network = nullptr;
    bool m_privileged = false;
    struct Client
    {
        qint64 pid;
        qint64 startTime;
    };
    QHash<qint32, Client> m_kernelClients; // kernel pid -> the process that started it
    QTimer* m_clientTimer;
};

} // namespace tarnwick
