#pragma once

#include <QWidget>

namespace tarnwick {

class Settings;
class SettingsForm;

// The "DNS" settings: the kernel's DNS server, fake IPs, nameservers and their policies, the fallback filter
// and hosts.
class DnsSection final : public QWidget
{
    Q_OBJECT

public:
    explicit DnsSection(Settings& settings, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }

private:
    SettingsForm* m_form;
};

} // namespace tarnwick
