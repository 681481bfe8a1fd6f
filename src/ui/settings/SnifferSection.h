#pragma once

#include <QWidget>

namespace tarnwick {

class Settings;
class SettingsForm;

// The "Sniffer" settings: how the kernel reads domain names out of TLS, HTTP and QUIC traffic.
class SnifferSection final : public QWidget
{
    Q_OBJECT

public:
    explicit SnifferSection(Settings& settings, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }

private:
    SettingsForm* m_form;
};

} // namespace tarnwick
