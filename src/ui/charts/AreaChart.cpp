#include "AreaChart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace tarnwick {

AreaChart::AreaChart(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AreaChart::setSeries(QList<Series> series)
{
    m_series = std::move(series);
    update();
}

void AreaChart::setCapacity(int points)
{
    m_capacity = std::max(2, points);
    update();
}

void AreaChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const QFontMetrics metrics = fontMetrics();

    // Legend: a swatch, the name and the latest value of each series.
    int x = 0;
    for (const Series& series : std::as_const(m_series)) {
        const QString text =
            series.name + QLatin1Char(' ') + m_format(series.values.isEmpty() ? 0 : series.values.last());
        painter.setPen(Qt::NoPen);
        painter.setBrush(series.color);
        painter.drawEllipse(QRectF(x, (metrics.height() - 8) / 2.0, 8, 8));
        painter.setPen(palette.color(QPalette::WindowText));
        painter.drawText(QPoint(x + 12, metrics.ascent()), text);
        x += 12 + metrics.horizontalAdvance(text) + 16;
    }

    double top = 1;
    for (const Series& series : std::as_const(m_series))
        for (double value : series.values)
            top = std::max(top, value);
    const QRectF plot(0, metrics.height() + 6, width(), height() - metrics.height() - 7);

    // Two guide lines with the scale at the left.
    QColor grid = palette.color(QPalette::WindowText);
    grid.setAlphaF(0.12);
    QColor label = palette.color(QPalette::WindowText);
    label.setAlphaF(0.55);
    for (int step = 1; step <= 2; ++step) {
        const double y = plot.bottom() - plot.height() * step / 2;
        painter.setPen(QPen(grid, 1, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(label);
        painter.drawText(QPointF(plot.left() + 2, y + metrics.ascent() + 1), m_format(top * step / 2));
    }
    painter.setPen(QPen(grid, 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());

    const double step = plot.width() / (m_capacity - 1);
    for (const Series& series : std::as_const(m_series)) {
        if (series.values.size() < 2)
            continue;
        const qsizetype shown = std::min<qsizetype>(series.values.size(), m_capacity);
        const qsizetype first = series.values.size() - shown;
        QPainterPath line;
        for (qsizetype i = 0; i < shown; ++i) {
            const QPointF point(plot.right() - double(shown - 1 - i) * step,
                                plot.bottom() - plot.height() * series.values[first + i] / top);
            if (i == 0)
                line.moveTo(point);
            else
                line.lineTo(point);
        }
        QPainterPath area = line;
        area.lineTo(plot.right(), plot.bottom());
        area.lineTo(plot.right() - double(shown - 1) * step, plot.bottom());
        area.closeSubpath();
        QLinearGradient fill(plot.topLeft(), plot.bottomLeft());
        QColor strong = series.color;
        strong.setAlphaF(0.35);
        QColor faint = series.color;
        faint.setAlphaF(0.03);
        fill.setColorAt(0, strong);
        fill.setColorAt(1, faint);
        painter.fillPath(area, fill);
        painter.strokePath(line, QPen(series.color, 1.6));
    }
}

} // namespace tarnwick
