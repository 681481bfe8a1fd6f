#pragma once

#include <QElapsedTimer>
#include <chrono>
#include <optional>

namespace tarnwick {

// When to restart a kernel that ended on its own: after a short back-off that doubles with each end in a
// row, and not at all once it ended too often in a row. A kernel that ran long enough starts a new row.
class KernelRecovery final
{
public:
    struct Policy
    {
        std::chrono::milliseconds firstDelay{1000};
        int restartsInARow = 3;
        std::chrono::milliseconds stableAfter{60000};
    };

    explicit KernelRecovery(Policy policy) : m_policy(policy) {}

    void kernelStarted() { m_running.start(); }
    // The delay before the next restart, or nothing when the kernel is to stay down.
    std::optional<std::chrono::milliseconds> kernelEnded();
    int endsInARow() const { return m_endsInARow; }

private:
    Policy m_policy;
    QElapsedTimer m_running;
    int m_endsInARow = 0;
};

} // namespace tarnwick
