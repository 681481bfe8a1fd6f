#include "RuntimeVerifier.h"

#include "RuntimeError.h"

#include <QProcess>
#include <QStringDecoder>
#include <chrono>
#include <qcoro/qcoroprocess.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kVerifyBound = 10s;

} // namespace

QCoro::Task<> RuntimeVerifier::verify(QString executablePath) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    auto coroutine = qCoro(process);
    const QStringList arguments{QStringLiteral("-v")};
    if (!co_await coroutine.start(executablePath, arguments, QIODevice::ReadOnly, kVerifyBound))
        throw RuntimeError::fsOperationFailed(QStringLiteral("Failed to launch verifier process: ") +
                                              process.errorString());
    if (!co_await coroutine.waitForFinished(kVerifyBound)) {
        process.kill();
        process.waitForFinished(1000);
        throw RuntimeError::verificationFailed(
            -1, QStringLiteral("No answer within %1 s").arg(kVerifyBound.count() / 1000));
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString output = decoder.decode(process.readAll());
    if (decoder.hasError())
        output.clear();
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (exitCode != 0)
        throw RuntimeError::verificationFailed(exitCode, output);
    if (!output.toLower().contains(QLatin1String("mihomo")))
        throw RuntimeError::verificationFailed(-1, QStringLiteral("Invalid binary signature: ") + output);
}

} // namespace tarnwick
