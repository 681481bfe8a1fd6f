#pragma once

#include "AppCommand.h"

#include <QCoro/QCoroTask>
#include <QPointer>

namespace tarnwick {

class AppState;

// Answers the control socket's commands on the main thread, through the application's state. Failures
// become responses with an error text; nothing escapes to the listener.
class AppCommandHandler final
{
public:
    explicit AppCommandHandler(AppState* state) : m_state(state) {}

    QCoro::Task<AppResponse> handle(AppCommand command) const { return answer(m_state, std::move(command)); }

    // How long each group's latency test may take during a health check.
    static constexpr int healthCheckTimeoutMs = 5000;

private:
    static QCoro::Task<AppResponse> answer(QPointer<AppState> state, AppCommand command);

    QPointer<AppState> m_state;
};

} // namespace tarnwick
