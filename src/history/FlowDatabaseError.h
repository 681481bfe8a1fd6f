#pragma once

#include "platform/Error.h"

namespace tarnwick {

// Why the flow database could not be opened; the application then runs without history.
class FlowDatabaseError final : public Error
{
public:
    enum class Case
    {
        openFailed,
        prepareFailed
    };

    FlowDatabaseError(Case which, const QString& message);

    Case which() const noexcept { return m_case; }
    const QString& message() const noexcept { return m_message; }

private:
    Case m_case;
    QString m_message;
};

} // namespace tarnwick
