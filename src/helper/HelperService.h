#pragma once

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <chrono>
#include <qcoro/qcorotask.h>
#include <sys/types.h>

namespace tarnwick {

class KernelLauncher;

// The helper's operations: reads one request object and produces its reply (HelperProtocol).
class HelperService final : public QObject
{
    Q_OBJECT

public:
    // commandBound: how long an allowed system command may run; below the application's 15 s time-out so
    // that it hears why.
    // user: the one user served; kernels and bundles are accepted only from that user's directories.
    HelperService(KernelLauncher* launcher, uid_t user,
                  std::chrono::milliseconds commandBound = std::chrono::seconds(12),
                  QObject* parent = nullptr);

    // Never throws: every failure becomes the reply's error text.
    QCoro::Task<QJsonObject> handle(QJsonObject request);

    // exitForUpdate ends the helper this long after its reply, with this status.
    static constexpr std::chrono::milliseconds exitForUpdateDelay{200};
    static constexpr int exitForUpdateStatus = 75;

private:
    QJsonObject startKernel(const QJsonObject& request);
    QJsonObject installUpdate(const QJsonObject& request) const;
    QCoro::Task<QJsonObject> stopKernel(QJsonObject request);
    QCoro::Task<QJsonObject> waitForKernelExit(QJsonObject request);
    static QCoro::Task<QJsonObject> runSystemCommand(QString command, QStringList arguments,
                                                     std::chrono::milliseconds bound);

    KernelLauncher* m_launcher;
    uid_t m_user;
    std::chrono::milliseconds m_commandBound;
};

} // namespace tarnwick
