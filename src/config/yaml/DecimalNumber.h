#pragma once

#include <QtGlobal>
#include <algorithm>

namespace tarnwick::decimal {

// For a decimal number (digits, optional fraction, optional exponent) that does not fit a double: whether
// it is too large rather than too small, i.e. whether its leading significant digit stands at a positive
// power of ten.
inline bool overflows(const char* p, const char* end)
{
    if (p != end && (*p == '-' || *p == '+'))
        ++p;
    qint64 magnitude = 0;
    bool significant = false;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
        significant = significant || *p != '0';
        if (significant)
            ++magnitude;
    }
    --magnitude; // "123" stands at 10^2
    if (p != end && *p == '.') {
        for (++p; p != end && *p >= '0' && *p <= '9'; ++p) {
            if (!significant && *p == '0')
                --magnitude;
            significant = significant || *p != '0';
        }
    }
    qint64 exponent = 0;
    if (p != end) {
        ++p; // 'e' or 'E'
        const bool negative = p != end && *p == '-';
        if (p != end && (*p == '+' || *p == '-'))
            ++p;
        for (; p != end; ++p)
            exponent = std::min<qint64>(exponent * 10 + (*p - '0'), qint64(1) << 40);
        if (negative)
            exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

} // namespace tarnwick::decimal
