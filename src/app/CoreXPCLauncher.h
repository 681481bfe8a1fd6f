#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

namespace tarnwick {

// The launcher operations the kernel supervisor and the system-proxy code call; HelperClient implements
// them through the helper. Each fails with an exception describing what went wrong.
class CoreXPCLauncher
{
public:
    virtual ~CoreXPCLauncher() = default;

    // Starts the executable with the arguments and these environment variables (the controller secret),
    // its output appended to the log file; the kernel's pid.
    virtual QCoro::Task<qint32> startKernel(QString executablePath, QStringList arguments,
                                            QMap<QString, QString> environment, QString logFile) = 0;
    // Stops a kernel started through startKernel.
    virtual QCoro::Task<> stopKernel(qint32 pid) = 0;
    // Runs one of the system commands the helper allows.
    virtual QCoro::Task<> runSystemCommand(QString command, QStringList arguments) = 0;
    // Waits up to `bound` for a kernel started through startKernel to end: how it ended ("killed by signal
    // 9", or "stopped" when stopKernel stopped it), or nothing when it still runs.
    virtual QCoro::Task<std::optional<QString>> waitForKernelExit(qint32 pid,
                                                                  std::chrono::milliseconds bound) = 0;
};

} // namespace tarnwick
