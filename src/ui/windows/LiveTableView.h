#pragma once

#include <QTreeView>

namespace tarnwick {

// A flat table whose model changes thousands of rows at a time (the live connections). A change of more
// rows than the viewport holds repaints the viewport instead of letting the view unite the rectangle of
// every changed row, which costs more than the repaint itself when a narrow band of columns moves.
class LiveTableView final : public QTreeView
{
    Q_OBJECT

public:
    explicit LiveTableView(QWidget* parent = nullptr);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
};

} // namespace tarnwick
