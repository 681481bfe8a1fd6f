#pragma once

#include "ChartText.h"

#include <QColor>
#include <QList>
#include <QWidget>
#include <functional>

namespace tarnwick {

// Bars of stacked parts over labelled slots (hours of a day, days of a month); hovering a bar names its
// slot and each part's value.
class StackedBarChart final : public QWidget
{
    Q_OBJECT

public:
    struct Part
    {
        QString key;
        double value = 0;
    };
    struct Bar
    {
        QString label;
        QList<Part> parts; // stacked bottom up
    };
    using ColorOf = std::function<QColor(const QString& key)>;

    explicit StackedBarChart(QWidget* parent = nullptr);

    void setBars(QList<Bar> bars);
    const QList<Bar>& bars() const { return m_bars; }
    void setColors(ColorOf colors) { m_colors = std::move(colors); }
    void setFormatter(ValueFormatter formatter) { m_format = std::move(formatter); }
    // The bar under a point of the widget, or -1.
    int barAt(const QPoint& point) const;

    QSize sizeHint() const override { return {420, 170}; }
    QSize minimumSizeHint() const override { return {200, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QRectF plotRect() const;

    QList<Bar> m_bars;
    ColorOf m_colors;
    ValueFormatter m_format = ChartText::bytes;
    int m_hovered = -1;
};

} // namespace tarnwick
