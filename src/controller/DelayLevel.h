#pragma once

#include <QtGlobal>

namespace tarnwick {

// The latency classes every latency display shares.
enum class DelayLevel
{
    timeout,
    fast,
    moderate,
    slow,
};

// Below 1 ms is a failed test; fast below 300 ms, moderate below 800 ms, slow from 800 ms.
constexpr DelayLevel delayLevel(qint64 milliseconds)
{
    if (milliseconds < 1)
        return DelayLevel::timeout;
    if (milliseconds < 300)
        return DelayLevel::fast;
    if (milliseconds < 800)
        return DelayLevel::moderate;
    return DelayLevel::slow;
}

} // namespace tarnwick
