#pragma once

#include "ChartText.h"

#include <QList>
#include <QWidget>

namespace tarnwick {

// A ranked list: each row's name and value with a bar of its share of the largest row under it.
class TopList final : public QWidget
{
    Q_OBJECT

public:
    struct Row
    {
        QString label;
        double value = 0;
    };

    explicit TopList(QWidget* parent = nullptr);

    void setRows(QList<Row> rows);
    const QList<Row>& rows() const { return m_rows; }
    void setFormatter(ValueFormatter formatter) { m_format = std::move(formatter); }
    // What the list says when it has no rows.
    void setEmptyText(const QString& text) { m_emptyText = text; }
    // How many rows the list makes room for.
    void setCapacity(int rows);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int rowHeight() const;

    QList<Row> m_rows;
    ValueFormatter m_format = ChartText::bytes;
    QString m_emptyText = QStringLiteral("Nothing recorded yet");
    int m_capacity = 5;
};

} // namespace tarnwick
