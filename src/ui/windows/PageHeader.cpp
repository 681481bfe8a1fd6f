#include "PageHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTreeView>

namespace tarnwick {

PageHeader::PageHeader(const QString& title, QWidget* parent) : QWidget(parent)
{
    m_layout = new QHBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_title = new QLabel(title, this);
    QFont font = m_title->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setWeight(QFont::DemiBold);
    m_title->setFont(font);
    m_title->setAccessibleName(title);
    m_layout->addWidget(m_title);
    m_layout->addStretch(1);
}

QPushButton* PageHeader::addButton(const QString& text, const QString& iconName)
{
    auto* button = new QPushButton(iconName.isEmpty() ? QIcon() : QIcon::fromTheme(iconName), text, this);
    button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    m_layout->insertWidget(m_layout->count() - (m_filter ? 1 : 0), button);
    return button;
}

QLineEdit* PageHeader::addFilter(const QString& placeholder)
{
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(placeholder);
    m_filter->setAccessibleName(QStringLiteral("Filter"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setMaximumWidth(260);
    m_layout->addWidget(m_filter);
    auto* shortcut = new QShortcut(QKeySequence::Find, parentWidget() ? parentWidget() : this);
    connect(shortcut, &QShortcut::activated, m_filter, [this] {
        m_filter->setFocus();
        m_filter->selectAll();
    });
    return m_filter;
}

QTreeView* PageHeader::addFilteredList(QAbstractItemModel* model, QSortFilterProxyModel* proxy,
                                       const QString& accessibleName, int filterColumn)
{
    proxy->setSourceModel(model);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setFilterKeyColumn(filterColumn);
    connect(m_filter, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    auto* view = new QTreeView(parentWidget());
    view->setModel(proxy);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    view->setAccessibleName(accessibleName);
    return view;
}

} // namespace tarnwick
