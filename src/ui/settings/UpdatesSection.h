#pragma once

#include <QWidget>

class QLabel;

namespace tarnwick {

class DesktopFrontend;
class SettingsForm;

// The "Updates" settings: the installed version, the automatic check, alpha builds and a manual check
// that opens the update window.
class UpdatesSection final : public QWidget
{
    Q_OBJECT

public:
    explicit UpdatesSection(DesktopFrontend& frontend, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }
    QString lastCheckText() const;
    void checkNow();

private:
    void refresh();

    DesktopFrontend& m_frontend;
    SettingsForm* m_form;
    QLabel* m_version;
    QLabel* m_lastCheck;
};

} // namespace tarnwick
