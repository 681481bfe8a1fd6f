#pragma once

#include "platform/Error.h"

namespace tarnwick {

// Failures of a helper call: the helper answered with an error (or did not answer in time), or there is
// no connection to it.
class HelperClientError final : public Error
{
public:
    enum class Kind
    {
        helperError,
        connectionFailed,
    };

    static HelperClientError helperError(const QString& message)
    {
        return HelperClientError(Kind::helperError, message, QStringLiteral("Helper error: ") + message);
    }
    static HelperClientError connectionFailed()
    {
        return HelperClientError(Kind::connectionFailed, QString(),
                                 QStringLiteral("Failed to connect to privileged helper"));
    }
    // A connection refused on purpose: why the helper's socket is not to be trusted.
    static HelperClientError connectionFailed(const QString& reason)
    {
        return HelperClientError(Kind::connectionFailed, reason,
                                 QStringLiteral("Failed to connect to privileged helper: ") + reason);
    }

    // The helperError text of a call that got no reply in time.
    static QString timedOutMessage() { return QStringLiteral("XPC operation timed out."); }

    Kind kind() const { return m_kind; }
    // The helper's own text for helperError; for connectionFailed, the reason it was refused, if any.
    const QString& message() const { return m_message; }

private:
    HelperClientError(Kind kind, QString message, QString description)
        : Error(std::move(description)), m_kind(kind), m_message(std::move(message))
    {}

    Kind m_kind;
    QString m_message;
};

} // namespace tarnwick
