#pragma once

#include "MenuBarIconMode.h"

#include <QColor>
#include <QImage>
#include <optional>
#include <tuple>

namespace tarnwick {

// Draws the tray image: the symbol (the moon while the proxy is suspended) and, beside it, the upload
// rate above the download rate with digits of equal width, so the text does not jitter as rates change.
// Monochrome in the panel's text colour. The last image is kept: the same inputs draw nothing new.
class MenuBarIconRenderer final
{
public:
    // Logical sizes (points); the image is drawn at scale 2.0.
    static constexpr int iconSize = 22;
    static constexpr int gap = 5;
    static constexpr int textWidth = 48;
    static constexpr int fontSize = 9;
    static constexpr int lineSpacing = -2;
    static constexpr qreal scale = 2.0;

    explicit MenuBarIconRenderer(QColor tint = Qt::black);

    // Rates in bytes per second; with the kernel stopped both lines show 0.
    QImage render(bool isRunning, bool isSuspended, qint64 txSpeed, qint64 rxSpeed, MenuBarIconMode mode);

    QColor tint() const { return m_tint; }
    // A new panel colour draws the next image afresh.
    void setTint(const QColor& tint);
    // How many images were actually drawn.
    int drawCount() const { return m_drawCount; }

private:
    using Inputs = std::tuple<bool, bool, qint64, qint64, MenuBarIconMode>;

    QImage draw(bool isSuspended, qint64 txSpeed, qint64 rxSpeed, MenuBarIconMode mode) const;
    QImage symbol(bool isSuspended) const;

    QColor m_tint;
    std::optional<Inputs> m_lastInputs;
    QImage m_lastImage;
    int m_drawCount = 0;
};

} // namespace tarnwick
