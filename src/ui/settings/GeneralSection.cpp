#include "GeneralSection.h"

#include "SettingsForm.h"
#include "app/AppState.h"
#include "app/WifiSuspension.h"
#include "network/NetworkEnvironmentMonitor.h"
#include "platform/Error.h"
#include "platform/LoginItem.h"
#include "platform/Settings.h"
#include "ui/menubar/MenuBarIconMode.h"
#include "ui/menubar/MenuBarManager.h"
#include "ui/windows/DesktopFrontend.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

QLabel* messageLabel(QWidget* parent, const QString& accessibleName)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(accessibleName);
    label->hide();
    return label;
}

void showMessage(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

} // namespace

GeneralSection::GeneralSection(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend), m_form(new SettingsForm(frontend.state().settings(), this))
{
    AppState& state = m_frontend.state();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);

    m_form->addGroup(QStringLiteral("Menu Bar"));
    SettingField::Definition icon;
    icon.key = menuBarIconModeKey;
    icon.label = QStringLiteral("Tray icon shows");
    icon.kind = SettingField::Kind::choice;
    icon.defaultValue = rawValue(MenuBarIconMode::iconAndSpeed);
    for (const MenuBarIconMode mode : allMenuBarIconModes()) {
        icon.choices.append(rawValue(mode));
        icon.choiceLabels.append(label(mode));
    }
    connect(m_form->addField(icon), &SettingField::committed, this, [this] {
        // The tray redraws at once.
        if (MenuBarManager* menuBar = m_frontend.menuBar())
            menuBar->setIconMode(
                menuBarIconModeFromRaw(m_frontend.state().settings().text(menuBarIconModeKey, {}))
                    .value_or(MenuBarIconMode::iconAndSpeed));
    });

    m_form->addGroup(QStringLiteral("Startup"));
    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at login"), this);
    m_launchAtLogin->setAccessibleName(QStringLiteral("Launch at login"));
    m_launchAtLogin->setChecked(LoginItem().isEnabled());
    m_loginError = messageLabel(this, QStringLiteral("Launch at login error"));
    m_form->addWidget(m_launchAtLogin);
    m_form->addWidget(m_loginError);
    connect(m_launchAtLogin, &QCheckBox::toggled, this, &GeneralSection::setLaunchAtLogin);

    m_form->addGroup(QStringLiteral("Kernel Log"));
    m_form->addEngineFields({
        {"logLevel",
         "Log level",
         "What the kernel writes to its log and the Logs page.",
         {QStringLiteral("silent"), QStringLiteral("error"), QStringLiteral("warning"),
          QStringLiteral("info"), QStringLiteral("debug")}},
    });

    m_form->addGroup(
        QStringLiteral("Wi-Fi"),
        QStringLiteral("On the trusted networks the system proxy and TUN mode are suspended. A change "
                       "takes effect when the machine next joins a network."));
    m_form->addField(SettingField::toggle(WifiSuspension::enabledKey,
                                          QStringLiteral("Disable proxy for specific Wi-Fi"), false));
    SettingField::Definition trusted;
    trusted.key = WifiSuspension::trustedKey;
    trusted.label = QStringLiteral("Trusted networks");
    trusted.kind = SettingField::Kind::lines;
    trusted.hint = QStringLiteral("One network name per line.");
    trusted.separator = QStringLiteral(", ");
    trusted.check = SettingValidation::wifiNames;
    m_form->addField(trusted);
    auto* wifiRow = new QWidget(this);
    auto* wifiLayout = new QHBoxLayout(wifiRow);
    wifiLayout->setContentsMargins(0, 0, 0, 0);
    auto* add = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")),
                                QStringLiteral("Add Current Wi-Fi"), wifiRow);
    add->setAccessibleName(QStringLiteral("Add Current Wi-Fi"));
    m_wifiStatus = new QLabel(wifiRow);
    m_wifiStatus->setAccessibleName(QStringLiteral("Wi-Fi status"));
    wifiLayout->addWidget(add);
    wifiLayout->addWidget(m_wifiStatus, 1);
    m_form->addWidget(wifiRow);
    m_wifiError = messageLabel(this, QStringLiteral("Wi-Fi error"));
    m_form->addWidget(m_wifiError);
    connect(add, &QPushButton::clicked, this, &GeneralSection::addCurrentWifi);
    connect(&state.wifiSuspension(), &WifiSuspension::suspensionChanged, this,
            &GeneralSection::refreshWifiStatus);
    connect(&state.networkMonitor(), &NetworkEnvironmentMonitor::ssidChanged, this,
            &GeneralSection::refreshWifiStatus);
    refreshWifiStatus();
    m_form->finish();
}

QString GeneralSection::launchAtLoginError() const
{
    return m_loginError->isHidden() ? QString() : m_loginError->text();
}

void GeneralSection::setLaunchAtLogin(bool enabled)
{
    try {
        LoginItem().setEnabled(enabled);
        showMessage(m_loginError, {});
    } catch (const Error& error) {
        showMessage(m_loginError, error.description());
        const QSignalBlocker blocker(m_launchAtLogin);
        m_launchAtLogin->setChecked(!enabled);
    }
}

void GeneralSection::addCurrentWifi()
{
    const std::optional<QString> ssid = m_frontend.state().networkMonitor().currentSSID();
    if (!ssid || ssid->isEmpty()) {
        showMessage(m_wifiError, QStringLiteral("This machine is not on a Wi-Fi network now."));
        return;
    }
    SettingField* trusted = m_form->field(WifiSuspension::trustedKey);
    const QStringList names = WifiSuspension::trustedNames(trusted->value().replace(u'\n', u','));
    if (names.contains(*ssid)) {
        showMessage(m_wifiError, QStringLiteral("\"%1\" is already trusted.").arg(*ssid));
        return;
    }
    showMessage(m_wifiError, {});
    trusted->setValue((names + QStringList{*ssid}).join(u'\n'));
    trusted->commit();
}

QString GeneralSection::wifiStatus() const
{
    return m_wifiStatus->text();
}

QString GeneralSection::wifiError() const
{
    return m_wifiError->isHidden() ? QString() : m_wifiError->text();
}

void GeneralSection::refreshWifiStatus()
{
    AppState& state = m_frontend.state();
    const QString suspended = state.wifiSuspension().statusText();
    if (!suspended.isEmpty()) {
        m_wifiStatus->setText(suspended);
        return;
    }
    const std::optional<QString> ssid = state.networkMonitor().currentSSID();
    m_wifiStatus->setText(ssid && !ssid->isEmpty() ? QStringLiteral("Current Wi-Fi: %1").arg(*ssid)
                                                   : QStringLiteral("Not on Wi-Fi"));
}

} // namespace tarnwick
