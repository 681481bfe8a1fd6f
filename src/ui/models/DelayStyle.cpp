#include "DelayStyle.h"

namespace tarnwick {

QString DelayStyle::text(const std::optional<qint64>& delay)
{
    if (!delay)
        return {};
    if (delayLevel(*delay) == DelayLevel::timeout)
        return QStringLiteral("Timeout");
    return QStringLiteral("%1 ms").arg(*delay);
}

QColor DelayStyle::color(const std::optional<qint64>& delay, const QPalette& palette)
{
    if (!delay)
        return palette.color(QPalette::Text);
    switch (delayLevel(*delay)) {
    case DelayLevel::fast:
        return QColor(0x2f, 0xa3, 0x4f);
    case DelayLevel::moderate:
        return QColor(0xd0, 0x8c, 0x00);
    case DelayLevel::slow:
        return QColor(0xe0, 0x52, 0x2e);
    case DelayLevel::timeout:
        break;
    }
    return palette.color(QPalette::PlaceholderText);
}

} // namespace tarnwick
