#include "AsyncMutex.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace tarnwick {

bool AsyncMutex::Awaiter::await_ready() const
{
    if (m_state->locked)
        return false;
    m_state->locked = true;
    return true;
}

AsyncMutex::Lock& AsyncMutex::Lock::operator=(Lock&& other) noexcept
{
    if (this != &other) {
        release();
        m_state = std::move(other.m_state);
    }
    return *this;
}

void AsyncMutex::Lock::release()
{
    const std::shared_ptr<State> state = std::move(m_state);
    if (!state)
        return;
    if (state->waiters.empty()) {
        state->locked = false;
        return;
    }
    // Ownership passes straight to the next waiter; the mutex stays locked in between.
    const std::coroutine_handle<> next = state->waiters.front();
    state->waiters.pop_front();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [next] { next.resume(); }, Qt::QueuedConnection);
}

} // namespace tarnwick
