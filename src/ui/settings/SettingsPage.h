#pragma once

#include <QHash>
#include <QWidget>

class QListWidget;
class QStackedWidget;

namespace tarnwick {

class DesktopFrontend;

// The "Settings" page: a list of sections beside the section shown. Sections are built when first shown;
// the page remembers the last one.
class SettingsPage final : public QWidget
{
    Q_OBJECT

public:
    static inline const QString sectionKey = QStringLiteral("settingsPage.section");

    explicit SettingsPage(DesktopFrontend& frontend, QWidget* parent = nullptr);

    // Section ids, in list order.
    QStringList sectionIds() const;
    QString currentSection() const;
    void showSection(const QString& id);
    // The section's widget, built on first use; null for an unknown id.
    QWidget* section(const QString& id);

private:
    struct Entry
    {
        QString id;
        QString title;
        QString iconName;
    };

    QWidget* createSection(const QString& id);

    DesktopFrontend& m_frontend;
    QList<Entry> m_entries;
    QListWidget* m_list;
    QStackedWidget* m_stack;
    QHash<QString, QWidget*> m_sections;
};

} // namespace tarnwick
