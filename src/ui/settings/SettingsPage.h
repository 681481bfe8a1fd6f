#pragma once

#include <QWidget>

namespace tarnwick {

class DesktopFrontend;
class SidebarStack;

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
    QWidget* createSection(const QString& id, QWidget* stack);

    DesktopFrontend& m_frontend;
    SidebarStack* m_sections;
};

} // namespace tarnwick
