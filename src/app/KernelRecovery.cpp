#include "KernelRecovery.h"

namespace tarnwick {

std::optional<std::chrono::milliseconds> KernelRecovery::kernelEnded()
{
    // After giving up only a start by hand brings the kernel back: that is a new row.
    if (m_endsInARow > m_policy.restartsInARow ||
        (m_running.isValid() && m_running.elapsed() >= m_policy.stableAfter.count()))
        m_endsInARow = 0;
    m_running.invalidate();
    ++m_endsInARow;
    if (m_endsInARow > m_policy.restartsInARow)
        return std::nullopt;
    return m_policy.firstDelay * (1 << (m_endsInARow - 1));
}

} // namespace tarnwick
