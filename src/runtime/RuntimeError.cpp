#include "RuntimeError.h"

namespace tarnwick {

RuntimeError RuntimeError::networkFailure(const QString& message)
{
    return {Kind::networkFailure, message, 0, QStringLiteral("Network failure: ") + message};
}

RuntimeError RuntimeError::releaseNotFound(RuntimeChannel channel)
{
    return {Kind::releaseNotFound, rawValue(channel), 0,
            QStringLiteral("No valid release found for channel: ") + rawValue(channel)};
}

RuntimeError RuntimeError::compatibleAssetNotFound(const QString& arch)
{
    return {Kind::compatibleAssetNotFound, arch, 0,
            QStringLiteral("No compatible binary found for architecture: ") + arch};
}

RuntimeError RuntimeError::verificationFailed(qint32 exitCode, const QString& output)
{
    return {Kind::verificationFailed, output, exitCode,
            QStringLiteral("Binary verification failed (exit code %1): %2").arg(exitCode).arg(output)};
}

RuntimeError RuntimeError::fsOperationFailed(const QString& message)
{
    return {Kind::fsOperationFailed, message, 0, QStringLiteral("File system operation failed: ") + message};
}

} // namespace tarnwick
