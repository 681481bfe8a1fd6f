#include "TopList.h"

#include <QPainter>
#include <algorithm>

namespace tarnwick {

TopList::TopList(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TopList::setRows(QList<Row> rows)
{
    m_rows = std::move(rows);
    setAccessibleDescription([this] {
        QStringList lines;
        for (const Row& row : std::as_const(m_rows))
            lines.append(row.label + QStringLiteral(": ") + m_format(row.value));
        return lines.join(QLatin1Char('\n'));
    }());
    update();
}

void TopList::setCapacity(int rows)
{
    m_capacity = std::max(1, rows);
    updateGeometry();
}

int TopList::rowHeight() const
{
    return fontMetrics().height() + 10;
}

QSize TopList::sizeHint() const
{
    return {240, rowHeight() * m_capacity};
}

void TopList::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& palette = this->palette();
    const QFontMetrics metrics = fontMetrics();
    QColor faint = palette.color(QPalette::WindowText);
    faint.setAlphaF(0.55);
    if (m_rows.isEmpty()) {
        painter.setPen(faint);
        painter.drawText(rect(), Qt::AlignCenter, m_emptyText);
        return;
    }
    double top = 0;
    for (const Row& row : std::as_const(m_rows))
        top = std::max(top, row.value);
    QColor track = palette.color(QPalette::WindowText);
    track.setAlphaF(0.08);
    const QColor fill = palette.color(QPalette::Highlight);
    const int h = rowHeight();
    for (qsizetype i = 0; i < m_rows.size() && i < m_capacity; ++i) {
        const Row& row = m_rows[i];
        const int y = int(i) * h;
        const QString value = m_format(row.value);
        const int valueWidth = metrics.horizontalAdvance(value);
        painter.setPen(palette.color(QPalette::WindowText));
        painter.drawText(QRect(0, y, width() - valueWidth - 8, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(row.label, Qt::ElideMiddle, width() - valueWidth - 8));
        painter.setPen(faint);
        painter.drawText(QRect(width() - valueWidth, y, valueWidth, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, value);
        const QRectF bar(0, y + metrics.height() + 2, width(), 3);
        painter.fillRect(bar, track);
        painter.fillRect(
            QRectF(bar.left(), bar.top(), top > 0 ? bar.width() * row.value / top : 0, bar.height()), fill);
    }
}

} // namespace tarnwick
