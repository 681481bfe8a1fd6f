#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tarnwick {

class DesktopFrontend;
class SettingsForm;

// The "General" settings: the tray icon, launch at login, the kernel's log level and the Wi-Fi bypass.
class GeneralSection final : public QWidget
{
    Q_OBJECT

public:
    explicit GeneralSection(DesktopFrontend& frontend, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }
    QCheckBox& launchAtLogin() const { return *m_launchAtLogin; }
    QString launchAtLoginError() const;
    // Appends the current Wi-Fi network's name to the trusted names (or says why it cannot).
    void addCurrentWifi();
    QString wifiStatus() const;
    QString wifiError() const;

private:
    void setLaunchAtLogin(bool enabled);
    void refreshWifiStatus();

    DesktopFrontend& m_frontend;
    SettingsForm* m_form;
    QCheckBox* m_launchAtLogin;
    QLabel* m_loginError;
    QLabel* m_wifiStatus;
    QLabel* m_wifiError;
};

} // namespace tarnwick
