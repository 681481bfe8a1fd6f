#include "SidebarStack.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QStackedWidget>

namespace tarnwick {

SidebarStack::SidebarStack(QList<Entry> entries, Factory factory, QWidget* parent)
    : QWidget(parent), m_entries(std::move(entries)), m_factory(std::move(factory)),
      m_list(new QListWidget(this)), m_stack(new QStackedWidget(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    for (const Entry& entry : std::as_const(m_entries)) {
        auto* item = new QListWidgetItem(entry.icon, entry.title, m_list);
        item->setData(Qt::UserRole, entry.id);
        // A placeholder until the entry is first shown: widgets cost nothing until they are used.
        m_stack->addWidget(new QWidget(m_stack));
    }
    row->addWidget(m_list);
    row->addWidget(m_stack, 1);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        content(m_entries[row].id);
        m_stack->setCurrentIndex(row);
        Q_EMIT currentChanged(m_entries[row].id);
    });
}

QStringList SidebarStack::ids() const
{
    QStringList ids;
    for (const Entry& entry : m_entries)
        ids.append(entry.id);
    return ids;
}

QString SidebarStack::currentId() const
{
    const int row = m_list->currentRow();
    return row < 0 ? QString() : m_entries[row].id;
}

void SidebarStack::select(const QString& id)
{
    const qsizetype row = ids().indexOf(id);
    if (row >= 0)
        m_list->setCurrentRow(int(row));
}

QWidget* SidebarStack::content(const QString& id)
{
    if (QWidget* existing = m_widgets.value(id))
        return existing;
    const qsizetype row = ids().indexOf(id);
    if (row < 0)
        return nullptr;
    QWidget* created = m_factory(id, m_stack);
    QWidget* placeholder = m_stack->widget(int(row));
    const bool wasCurrent = m_stack->currentIndex() == row;
    m_stack->insertWidget(int(row), created);
    m_stack->removeWidget(placeholder);
    delete placeholder;
    if (wasCurrent)
        m_stack->setCurrentIndex(int(row));
    m_widgets.insert(id, created);
    return created;
}

} // namespace tarnwick
