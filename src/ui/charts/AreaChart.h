#pragma once

#include "ChartText.h"

#include <QColor>
#include <QList>
#include <QWidget>

namespace tarnwick {

// Lines over filled areas, newest point at the right edge: the live traffic trend. A legend at the top
// names each series with its latest value.
class AreaChart final : public QWidget
{
    Q_OBJECT

public:
    struct Series
    {
        QString name;
        QColor color;
        QList<double> values; // oldest first
    };

    explicit AreaChart(QWidget* parent = nullptr);

    void setSeries(QList<Series> series);
    const QList<Series>& series() const { return m_series; }
    // How many points the width holds; fewer points start part-way across.
    void setCapacity(int points);
    void setFormatter(ValueFormatter formatter) { m_format = std::move(formatter); }

    QSize sizeHint() const override { return {420, 180}; }
    QSize minimumSizeHint() const override { return {200, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<Series> m_series;
    int m_capacity = 60;
    ValueFormatter m_format = ChartText::bytes;
};

} // namespace tarnwick
