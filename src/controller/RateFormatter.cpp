#include "RateFormatter.h"

#include <array>

namespace tarnwick {

namespace {

QString scaled(double value, const QString& unit)
{
    return value >= 100 ? QString::asprintf("%.0f %s", value, qUtf8Printable(unit))
                        : QString::asprintf("%.1f %s", value, qUtf8Printable(unit));
}

} // namespace

QString RateFormatter::rate(qint64 bytesPerSecond)
{
    if (bytesPerSecond == 0)
        return QStringLiteral("0 KB/s");
    static const std::array<QString, 4> units{QStringLiteral("KB/s"), QStringLiteral("MB/s"),
                                              QStringLiteral("GB/s"), QStringLiteral("TB/s")};
    double value = double(bytesPerSecond) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    return scaled(value, units[unit]);
}

QString RateFormatter::bytes(qint64 count)
{
    static const std::array<QString, 5> units{QStringLiteral("KB"), QStringLiteral("MB"),
                                              QStringLiteral("GB"), QStringLiteral("TB"),
                                              QStringLiteral("PB")};
    if (count < 1024)
        return QStringLiteral("%1 B").arg(count);
    double value = double(count) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    return scaled(value, units[unit]);
}

QString RateFormatter::duration(qint64 seconds)
{
    seconds = qMax<qint64>(seconds, 0);
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 m %2 s").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 86400)
        return QStringLiteral("%1 h %2 m").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

} // namespace tarnwick
