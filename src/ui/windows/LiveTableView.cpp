#include "LiveTableView.h"

#include <QHeaderView>

namespace tarnwick {

LiveTableView::LiveTableView(QWidget* parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    // Every row as high as the first: the view never measures rows one by one.
    setUniformRowHeights(true);
}

void LiveTableView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                const QList<int>& roles)
{
    const int rowHeight = qMax(1, this->rowHeight(topLeft));
    if (!topLeft.parent().isValid() && bottomRight.row() - topLeft.row() > viewport()->height() / rowHeight) {
        // The band of the changed columns, from top to bottom.
        int left = viewport()->width();
        int right = 0;
        for (int column = topLeft.column(); column <= bottomRight.column(); ++column) {
            if (header()->isSectionHidden(column))
                continue;
            const int x = columnViewportPosition(column);
            left = qMin(left, x);
            right = qMax(right, x + columnWidth(column));
        }
        if (left < right)
            viewport()->update(QRect(left, 0, right - left, viewport()->height()));
        return;
    }
    QTreeView::dataChanged(topLeft, bottomRight, roles);
}

} // namespace tarnwick
