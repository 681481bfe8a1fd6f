#pragma once

#include <QWidget>

class QAbstractItemModel;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTreeView;

namespace tarnwick {

// The line at the top of every page: its title, the actions that matter most on it and, where the page
// lists things, a filter field (Ctrl+F).
class PageHeader final : public QWidget
{
    Q_OBJECT

public:
    explicit PageHeader(const QString& title, QWidget* parent = nullptr);

    QPushButton* addButton(const QString& text, const QString& iconName = {});
    QLineEdit* addFilter(const QString& placeholder);
    QLineEdit* filter() const { return m_filter; }
    // A flat list of `model` for the page, shown through `proxy`, which the filter field (added first)
    // narrows, case-blind, on `filterColumn` (-1: every column).
    QTreeView* addFilteredList(QAbstractItemModel* model, QSortFilterProxyModel* proxy,
                               const QString& accessibleName, int filterColumn = -1);

private:
    QHBoxLayout* m_layout;
    QLabel* m_title;
    QLineEdit* m_filter = nullptr;
};

} // namespace tarnwick
