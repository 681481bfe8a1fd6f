#pragma once

#include <QCoro/QCoroTask>
#include <QString>

namespace tarnwick {

// Checks that an executable really is a Mihomo kernel: it runs with "-v" and says so.
class RuntimeVerifier final
{
public:
    // Throws RuntimeError::verificationFailed with the exit status and output, or exit code -1 and
    // "Invalid binary signature: <output>" when a clean exit does not name Mihomo;
    // fsOperationFailed "Failed to launch verifier process: …" when it cannot run.
    QCoro::Task<> verify(QString executablePath) const;
};

} // namespace tarnwick
