#pragma once

#include <QWidget>

namespace tarnwick {

class Settings;
class SettingsForm;

// The "TUN" settings: the kernel's virtual network device and its routes (TUN mode itself is switched from
// the tray).
class TunSection final : public QWidget
{
    Q_OBJECT

public:
    explicit TunSection(Settings& settings, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }

private:
    SettingsForm* m_form;
};

} // namespace tarnwick
