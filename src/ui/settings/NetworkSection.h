#pragma once

#include <QWidget>

namespace tarnwick {

class Settings;
class SettingsForm;

// The "Network" settings: the kernel's inbound ports, LAN access, connection behaviour and the system proxy's
// bypass list.
class NetworkSection final : public QWidget
{
    Q_OBJECT

public:
    explicit NetworkSection(Settings& settings, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }

private:
    SettingsForm* m_form;
};

} // namespace tarnwick
