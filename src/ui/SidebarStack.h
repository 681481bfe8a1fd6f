#pragma once

#include <QHash>
#include <QList>
#include <QWidget>
#include <functional>

class QListWidget;
class QStackedWidget;

namespace tarnwick {

// A list of entries on the left and the widget of the selected one on the right, each widget built by
// the factory when its entry is first shown: the main window's pages and the settings page's sections.
class SidebarStack final : public QWidget
{
    Q_OBJECT

public:
    struct Entry
    {
        QString id;
        QString title;
        QIcon icon;
    };
    // Builds the widget of an entry, as a child of `parent`.
    using Factory = std::function<QWidget*(const QString& id, QWidget* parent)>;

    SidebarStack(QList<Entry> entries, Factory factory, QWidget* parent = nullptr);

    // The list, for its looks and its accessible name.
    QListWidget& list() const { return *m_list; }
    // Entry ids, in list order.
    QStringList ids() const;
    QString currentId() const;
    // Selects the entry; an unknown id changes nothing.
    void select(const QString& id);
    // The entry's widget, built on first use; null for an unknown id.
    QWidget* content(const QString& id);

Q_SIGNALS:
    // After the entry's widget is shown.
    void currentChanged(const QString& id);

private:
    QList<Entry> m_entries;
    Factory m_factory;
    QListWidget* m_list;
    QStackedWidget* m_stack;
    QHash<QString, QWidget*> m_widgets;
};

} // namespace tarnwick
