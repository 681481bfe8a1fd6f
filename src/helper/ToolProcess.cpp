#include "ToolProcess.h"

#include "HelperError.h"

#include <QFileInfo>
#include <QProcess>

namespace tarnwick::ToolProcess {

Result run(const QString& program, const QStringList& arguments, std::chrono::milliseconds bound)
{
    Result result;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(static_cast<int>(bound.count())))
        return result;
    if (!process.waitForFinished(static_cast<int>(bound.count()))) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError().trimmed();
    return result;
}

QByteArray check(const QString& program, const QStringList& arguments)
{
    const Result result = run(program, arguments);
    if (result.succeeded())
        return result.output;
    const QString name = QFileInfo(program).fileName();
    if (!result.finished)
        throw HelperError(QStringLiteral("%1 did not run").arg(name));
    throw HelperError(result.errors.isEmpty()
                          ? QStringLiteral("%1 exited with status %2").arg(name).arg(result.exitCode)
                          : QStringLiteral("%1 failed: %2").arg(name, QString::fromUtf8(result.errors)));
}

} // namespace tarnwick::ToolProcess
