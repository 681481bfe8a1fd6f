#pragma once

#include <QString>
#include <QtGlobal>

namespace tarnwick {

// The numbers every view shows the same way: the tray's rates, byte totals and durations.
class RateFormatter final
{
public:
    // Bytes per second: "0 KB/s", else KB/s up to TB/s, no decimals from 100 on, one below.
    static QString rate(qint64 bytesPerSecond);
    // A byte total in binary units: "512 B", "1.5 KB", "120 MB" (one decimal below 100).
    static QString bytes(qint64 count);
    // "45 s", "3 m 12 s", "2 h 5 m", "3 d 4 h".
    static QString duration(qint64 seconds);
};

} // namespace tarnwick
