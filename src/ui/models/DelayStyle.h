#pragma once

#include "controller/DelayLevel.h"

#include <QColor>
#include <QPalette>
#include <QString>
#include <optional>

namespace tarnwick {

// How a latency is shown everywhere: "123 ms" in its level's colour, "Timeout" in the palette's muted
// text colour (never colour alone), nothing for a node never tested.
class DelayStyle final
{
public:
    static QString text(const std::optional<qint64>& delay);
    // The colours are mid-tones that read on light and dark backgrounds alike.
    static QColor color(const std::optional<qint64>& delay, const QPalette& palette);
};

} // namespace tarnwick
