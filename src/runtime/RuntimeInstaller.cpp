#include "RuntimeInstaller.h"

#include "RuntimeError.h"

#include <QFile>
#include <QProcess>
#include <chrono>
#include <qcoro/qcoroprocess.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kToolBound = 60s;

// Runs a tool with a fixed argument list; its exit status, or a failure to run it at all.
QCoro::Task<int> runTool(QString program, QStringList arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    auto coroutine = qCoro(process);
    if (!co_await coroutine.start(program, arguments, QIODevice::ReadOnly, kToolBound))
        throw RuntimeError::fsOperationFailed(
            QStringLiteral("Failed to run %1: %2").arg(program, process.errorString()));
    if (!co_await coroutine.waitForFinished(kToolBound)) {
        process.kill();
        process.waitForFinished(1000);
        throw RuntimeError::fsOperationFailed(
            QStringLiteral("%1 did not finish within %2 s").arg(program).arg(kToolBound.count() / 1000));
    }
    co_return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

QCoro::Task<> RuntimeInstaller::install(QString downloadedGzPath, QString targetBinaryPath) const
{
    const QString archive = targetBinaryPath + QStringLiteral(".gz");
    QFile existing(archive);
    if (existing.exists() && !existing.remove())
        throw RuntimeError::fsOperationFailed(
            QStringLiteral("Cannot remove %1: %2").arg(archive, existing.errorString()));
    QFile downloaded(downloadedGzPath);
    if (!downloaded.rename(archive))
        throw RuntimeError::fsOperationFailed(QStringLiteral("Cannot move %1 to %2: %3")
                                                  .arg(downloadedGzPath, archive, downloaded.errorString()));

    const QStringList gunzipArguments{QStringLiteral("-f"), archive};
    const int gunzip = co_await runTool(QStringLiteral("/usr/bin/gunzip"), gunzipArguments);
    if (gunzip != 0)
        throw RuntimeError::fsOperationFailed(QStringLiteral("Gunzip failed with status %1").arg(gunzip));

    const QStringList chmodArguments{QStringLiteral("+x"), targetBinaryPath};
    const int chmod = co_await runTool(QStringLiteral("/bin/chmod"), chmodArguments);
    if (chmod != 0)
        throw RuntimeError::fsOperationFailed(QStringLiteral("Chmod failed with status %1").arg(chmod));
    // No quarantine attribute to clear: Linux does not mark downloaded files the way macOS does.
}

} // namespace tarnwick
