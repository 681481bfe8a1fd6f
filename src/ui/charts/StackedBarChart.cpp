#include "StackedBarChart.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace tarnwick {

namespace {

double total(const StackedBarChart::Bar& bar)
{
    double sum = 0;
    for (const StackedBarChart::Part& part : bar.parts)
        sum += part.value;
    return sum;
}

} // namespace

StackedBarChart::StackedBarChart(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void StackedBarChart::setBars(QList<Bar> bars)
{
    m_bars = std::move(bars);
    update();
}

QRectF StackedBarChart::plotRect() const
{
    const QFontMetrics metrics = fontMetrics();
    return QRectF(0, metrics.height() + 4, width(), height() - 2 * metrics.height() - 8);
}

int StackedBarChart::barAt(const QPoint& point) const
{
    const QRectF plot = plotRect();
    if (m_bars.isEmpty() || point.x() < plot.left() || point.x() >= plot.right())
        return -1;
    return std::clamp(int((point.x() - plot.left()) / plot.width() * double(m_bars.size())), 0,
                      int(m_bars.size()) - 1);
}

void StackedBarChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const QFontMetrics metrics = fontMetrics();
    const QRectF plot = plotRect();

    double top = 1;
    for (const Bar& bar : std::as_const(m_bars))
        top = std::max(top, total(bar));
    QColor label = palette.color(QPalette::WindowText);
    label.setAlphaF(0.55);
    QColor grid = palette.color(QPalette::WindowText);
    grid.setAlphaF(0.12);
    painter.setPen(label);
    painter.drawText(QPointF(0, metrics.ascent()), m_format(top));
    painter.setPen(QPen(grid, 1, Qt::DashLine));
    painter.drawLine(plot.topLeft(), plot.topRight());
    painter.setPen(QPen(grid, 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    if (m_bars.isEmpty())
        return;

    const double slot = plot.width() / double(m_bars.size());
    const double gap = std::min(slot * 0.25, 4.0);
    // Labels only where they fit: every n-th slot.
    int widest = 0;
    for (const Bar& bar : std::as_const(m_bars))
        widest = std::max(widest, metrics.horizontalAdvance(bar.label));
    const int every = std::max(1, int(std::ceil((widest + 8) / slot)));
    for (qsizetype i = 0; i < m_bars.size(); ++i) {
        const Bar& bar = m_bars[i];
        const double left = plot.left() + double(i) * slot + gap / 2;
        double bottom = plot.bottom();
        for (const Part& part : bar.parts) {
            const double h = plot.height() * part.value / top;
            if (h <= 0)
                continue;
            QColor color = m_colors ? m_colors(part.key) : palette.color(QPalette::Highlight);
            if (m_hovered >= 0 && m_hovered != i)
                color.setAlphaF(0.55);
            painter.fillRect(QRectF(left, bottom - h, slot - gap, h), color);
            bottom -= h;
        }
        if (i % every == 0) {
            painter.setPen(label);
            painter.drawText(QRectF(left - slot, plot.bottom() + 2, 3 * slot - gap, metrics.height() + 2),
                             Qt::AlignHCenter | Qt::AlignTop, bar.label);
        }
    }
}

void StackedBarChart::mouseMoveEvent(QMouseEvent* event)
{
    const int hovered = barAt(event->position().toPoint());
    if (hovered != m_hovered) {
        m_hovered = hovered;
        update();
    }
    if (hovered < 0) {
        QToolTip::hideText();
        return;
    }
    const Bar& bar = m_bars[hovered];
    QStringList lines{QStringLiteral("<b>%1</b>").arg(bar.label.toHtmlEscaped())};
    for (const Part& part : bar.parts)
        lines.append(part.key.toHtmlEscaped() + QStringLiteral(": ") + m_format(part.value));
    lines.append(QStringLiteral("Total: ") + m_format(total(bar)));
    QToolTip::showText(event->globalPosition().toPoint(), lines.join(QStringLiteral("<br>")), this);
}

void StackedBarChart::leaveEvent(QEvent*)
{
    m_hovered = -1;
    update();
}

} // namespace tarnwick
