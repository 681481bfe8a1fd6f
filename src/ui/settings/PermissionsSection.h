#pragma once

#include "platform/BrowserAutomation.h"

#include <QWidget>
#include <memory>

class QLabel;
class QTreeWidget;

namespace tarnwick {

class Settings;

// The "Permissions" settings: under "Browser Automations", each browser the webpage rule capture knows,
// installed or not, and whether its current page can be read now.
class PermissionsSection final : public QWidget
{
    Q_OBJECT

public:
    static inline const QString cacheKey = QStringLiteral("app.tarnwick.browser_automation_cache");

    PermissionsSection(Settings& settings, std::unique_ptr<BrowserAutomation> automation,
                       QWidget* parent = nullptr);

    static QString statusLabel(AutomationStatus status);
    QTreeWidget& browsers() const { return *m_browsers; }
    // Looks at every browser again.
    void refresh();

private:
    Settings& m_settings;
    std::unique_ptr<BrowserAutomation> m_automation;
    QLabel* m_desktop;
    QTreeWidget* m_browsers;
};

} // namespace tarnwick
