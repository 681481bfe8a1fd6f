#pragma once

#include "platform/Error.h"

#include <exception>

namespace tarnwick {

// The errors the user is shown; every failure of a user-facing flow is mapped to one of these.
class AppError final : public Error
{
public:
    enum class Kind
    {
        permissionDenied,
        preflightFailed,
        kernelCrashed,
        operationFailed,
        kernelMissing
    };

    AppError(Kind kind, QString message) : Error(message), m_kind(kind), m_message(std::move(message)) {}

    Kind kind() const { return m_kind; }
    const QString& message() const { return m_message; }

    // Maps any error to the user-facing case: a profile the compiler cannot read is a configuration error,
    // a file or workspace failure an operation failure; other errors during a kernel start count as a crash.
    static AppError from(const std::exception& error, bool duringKernelStart);

    // Reduces kernel output to the lines a person needs: the msg fields of error, fatal and warning log
    // lines and other lines that report a failure. Returns the message unchanged when nothing survives.
    static QString cleanMessage(const QString& message);

private:
    Kind m_kind;
    QString m_message;
};

} // namespace tarnwick
