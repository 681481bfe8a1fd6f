#include "UpdatesSection.h"

#include "SettingsForm.h"
#include "app/AppState.h"
#include "app/AppUpdateFlow.h"
#include "platform/Settings.h"
#include "ui/windows/DesktopFrontend.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

UpdatesSection::UpdatesSection(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend), m_form(new SettingsForm(frontend.state().settings(), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);

    m_form->addGroup(QStringLiteral("Tarnwick"));
    auto* facts = new QWidget(this);
    auto* rows = new QFormLayout(facts);
    rows->setContentsMargins(0, 0, 0, 0);
    m_version = new QLabel(facts);
    m_version->setAccessibleName(QStringLiteral("Installed version"));
    m_lastCheck = new QLabel(facts);
    m_lastCheck->setAccessibleName(QStringLiteral("Last check"));
    auto* check = new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh")),
                                  QStringLiteral("Check for Updates…"), facts);
    check->setAccessibleName(QStringLiteral("Check for Updates"));
    rows->addRow(QStringLiteral("Installed version"), m_version);
    rows->addRow(QStringLiteral("Last checked"), m_lastCheck);
    rows->addRow(QString(), check);
    m_form->addWidget(facts);
    connect(check, &QPushButton::clicked, this, &UpdatesSection::checkNow);

    m_form->addGroup(QStringLiteral("Automatic Updates"));
    m_form->addField(SettingField::toggle(AppUpdateFlow::autoCheckKey,
                                          QStringLiteral("Check for updates at launch"), true));
    m_form->addField(SettingField::toggle(
        AppUpdateFlow::includeAlphaKey, QStringLiteral("Follow alpha builds"), false,
        QStringLiteral("The rolling build of the newest changes, instead of releases.")));
    m_form->finish();

    connect(&m_frontend.state().updateFlow(), &AppUpdateFlow::phaseChanged, this, &UpdatesSection::refresh);
    refresh();
}

QString UpdatesSection::lastCheckText() const
{
    return m_lastCheck->text();
}

void UpdatesSection::checkNow()
{
    m_frontend.openUpdateWindow();
    m_frontend.state().updateFlow().check(false);
}

void UpdatesSection::refresh()
{
    const AppUpdateFlow& flow = m_frontend.state().updateFlow();
    m_version->setText(flow.bundle().shortVersion());
    const std::optional<QDateTime> last = m_frontend.state().settings().date(AppUpdateFlow::lastCheckKey);
    m_lastCheck->setText(last ? QLocale().toString(last->toLocalTime(), QLocale::ShortFormat)
                              : QStringLiteral("Never"));
}

} // namespace tarnwick
