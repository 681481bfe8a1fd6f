#pragma once

#include <deque>
#include <memory>
#include <qcoro/coroutine.h>

namespace tarnwick {

// Serialises coroutines: `auto lock = co_await mutex.lock();` suspends until every earlier holder has
// released the lock, in arrival order. A waiter is resumed from the event loop, never from inside the
// previous holder's unlock, so long queues cannot nest stacks. The lock may outlive the mutex.
class AsyncMutex final
{
    struct State
    {
        bool locked = false;
        std::deque<std::coroutine_handle<>> waiters;
    };

public:
    class Lock final
    {
    public:
        Lock() = default;
        Lock(Lock&& other) noexcept = default;
        Lock& operator=(Lock&& other) noexcept;
        ~Lock() { release(); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        void release();

    private:
        friend class AsyncMutex;
        explicit Lock(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        std::shared_ptr<State> m_state;
    };

    class Awaiter final
    {
    public:
        bool await_ready() const;
        void await_suspend(std::coroutine_handle<> waiter) const { m_state->waiters.push_back(waiter); }
        Lock await_resume() const { return Lock(m_state); }

    private:
        friend class AsyncMutex;
        explicit Awaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        std::shared_ptr<State> m_state;
    };

    AsyncMutex() : m_state(std::make_shared<State>()) {}
    AsyncMutex(const AsyncMutex&) = delete;
    AsyncMutex& operator=(const AsyncMutex&) = delete;

    Awaiter lock() { return Awaiter(m_state); }
    bool isLocked() const { return m_state->locked; }

private:
    std::shared_ptr<State> m_state;
};

} // namespace tarnwick
