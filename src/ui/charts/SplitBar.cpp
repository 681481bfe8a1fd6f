#include "SplitBar.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tarnwick {

SplitBar::SplitBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SplitBar::setParts(QList<Part> parts)
{
    m_parts = std::move(parts);
    updateGeometry();
    update();
}

QStringList SplitBar::legend() const
{
    double sum = 0;
    for (const Part& part : m_parts)
        sum += part.value;
    QStringList lines;
    for (const Part& part : m_parts) {
        const int share = sum > 0 ? int(std::lround(100 * part.value / sum)) : 0;
        lines.append(QStringLiteral("%1 %2 · %3 %").arg(part.key, m_format(part.value)).arg(share));
    }
    return lines;
}

QSize SplitBar::sizeHint() const
{
    return {240, 14 + 6 + fontMetrics().height() + 2};
}

void SplitBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const QRectF bar(0, 0, width(), 14);
    QPainterPath clip;
    clip.addRoundedRect(bar, 5, 5);
    QColor track = palette.color(QPalette::WindowText);
    track.setAlphaF(0.1);
    painter.fillPath(clip, track);

    double sum = 0;
    for (const Part& part : std::as_const(m_parts))
        sum += part.value;
    const auto colorOf = [&](const QString& key) {
        return m_colors ? m_colors(key) : palette.color(QPalette::Highlight);
    };
    if (sum > 0) {
        painter.save();
        painter.setClipPath(clip);
        double x = 0;
        for (const Part& part : std::as_const(m_parts)) {
            const double w = bar.width() * part.value / sum;
            painter.fillRect(QRectF(x, 0, w, bar.height()), colorOf(part.key));
            x += w;
        }
        painter.restore();
    }

    const QFontMetrics metrics = fontMetrics();
    const QStringList texts = legend();
    double x = 0;
    const double baseline = bar.bottom() + 6 + metrics.ascent();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colorOf(m_parts[i].key));
        painter.drawEllipse(QRectF(x, baseline - metrics.ascent() + (metrics.ascent() - 8) / 2.0 + 1, 8, 8));
        painter.setPen(palette.color(QPalette::WindowText));
        painter.drawText(QPointF(x + 12, baseline), texts[i]);
        x += 12 + metrics.horizontalAdvance(texts[i]) + 14;
    }
}

} // namespace tarnwick
