#pragma once

#include "ChartText.h"

#include <QColor>
#include <QList>
#include <QWidget>
#include <functional>

namespace tarnwick {

// One bar split into the shares of a whole (traffic by route), with a legend giving each part's value
// and share.
class SplitBar final : public QWidget
{
    Q_OBJECT

public:
    struct Part
    {
        QString key;
        double value = 0;
    };
    using ColorOf = std::function<QColor(const QString& key)>;

    explicit SplitBar(QWidget* parent = nullptr);

    void setParts(QList<Part> parts);
    const QList<Part>& parts() const { return m_parts; }
    void setColors(ColorOf colors) { m_colors = std::move(colors); }
    void setFormatter(ValueFormatter formatter) { m_format = std::move(formatter); }
    // "Direct 1.5 GB · 40 %", one per part.
    QStringList legend() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<Part> m_parts;
    ColorOf m_colors;
    ValueFormatter m_format = ChartText::bytes;
};

} // namespace tarnwick
