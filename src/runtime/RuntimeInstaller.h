#pragma once

#include <QCoro/QCoroTask>
#include <QString>

namespace tarnwick {

// Unpacks a downloaded kernel archive into its place in a version directory and makes it executable.
class RuntimeInstaller final
{
public:
    // Moves the archive beside the target as <target>.gz, unpacks it there with gunzip and marks the
    // result executable. Throws RuntimeError::fsOperationFailed ("Gunzip failed with status N",
    // "Chmod failed with status N", or why a file could not be moved or a tool run).
    QCoro::Task<> install(QString downloadedGzPath, QString targetBinaryPath) const;
};

} // namespace tarnwick
