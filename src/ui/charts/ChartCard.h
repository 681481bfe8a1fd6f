#pragma once

#include <QFrame>

class QLabel;
class QVBoxLayout;

namespace tarnwick {

// A titled panel holding one chart or a few figures: the tiles of the overview.
class ChartCard final : public QFrame
{
    Q_OBJECT

public:
    ChartCard(const QString& title, QWidget* parent = nullptr);

    QVBoxLayout* body() const { return m_body; }
    // Widgets placed at the right of the title (a period switch).
    void addHeaderWidget(QWidget* widget);

private:
    QVBoxLayout* m_body;
    QLabel* m_title;
};

} // namespace tarnwick
