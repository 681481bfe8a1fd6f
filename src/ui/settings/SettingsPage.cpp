#include "SettingsPage.h"

#include "AdvancedSection.h"
#include "DnsSection.h"
#include "GeneralSection.h"
#include "HelperSection.h"
#include "KernelSection.h"
#include "NetworkSection.h"
#include "PermissionsSection.h"
#include "SnifferSection.h"
#include "TunSection.h"
#include "UpdatesSection.h"
#include "app/AppState.h"
#include "platform/Settings.h"
#include "ui/SidebarStack.h"
#include "ui/windows/DesktopFrontend.h"
#include "ui/windows/PageHeader.h"

#include <QListWidget>
#include <QShortcut>
#include <QVBoxLayout>

namespace tarnwick {

SettingsPage::SettingsPage(DesktopFrontend& frontend, QWidget* parent) : QWidget(parent), m_frontend(frontend)
{
    const std::pair<const char*, const char*> sections[] = {
        {"General", "preferences-system"},
        {"Network", "network-wired"},
        {"DNS", "network-server"},
        {"Sniffer", "edit-find"},
        {"TUN", "network-vpn"},
        {"Kernel", "system-run"},
        {"Updates", "system-software-update"},
        {"Helper", "security-medium"},
        {"Permissions", "preferences-desktop-user-password"},
        {"Advanced", "preferences-other"},
    };
    QList<SidebarStack::Entry> entries;
    for (const auto& [title, themeIcon] : sections)
        entries.append({QString::fromLatin1(title).toLower(), QLatin1String(title),
                        QIcon::fromTheme(QLatin1String(themeIcon))});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new PageHeader(QStringLiteral("Settings"), this));
    m_sections = new SidebarStack(
        std::move(entries), [this](const QString& id, QWidget* stack) { return createSection(id, stack); },
        this);
    m_sections->list().setAccessibleName(QStringLiteral("Settings sections"));
    m_sections->list().setFixedWidth(160);
    m_sections->list().setIconSize(QSize(16, 16));
    layout->addWidget(m_sections, 1);

    connect(m_sections, &SidebarStack::currentChanged, this,
            [this](const QString& id) { m_frontend.state().settings().setText(sectionKey, id); });
    // Alt+1 … Alt+9, Alt+0: the sections in list order.
    for (int i = 0; i < m_sections->list().count() && i < 10; ++i) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_0 + (i + 1) % 10)), this);
        connect(shortcut, &QShortcut::activated, this, [this, i] { m_sections->list().setCurrentRow(i); });
    }
    const qsizetype remembered = sectionIds().indexOf(m_frontend.state().settings().text(sectionKey, {}));
    m_sections->list().setCurrentRow(int(remembered < 0 ? 0 : remembered));
}

QStringList SettingsPage::sectionIds() const
{
    return m_sections->ids();
}

QString SettingsPage::currentSection() const
{
    return m_sections->currentId();
}

void SettingsPage::showSection(const QString& id)
{
    m_sections->select(id);
}

QWidget* SettingsPage::section(const QString& id)
{
    return m_sections->content(id);
}

QWidget* SettingsPage::createSection(const QString& id, QWidget* stack)
{
    Settings& settings = m_frontend.state().settings();
    if (id == QLatin1String("general"))
        return new GeneralSection(m_frontend, stack);
    if (id == QLatin1String("kernel"))
        return new KernelSection(m_frontend, stack);
    if (id == QLatin1String("updates"))
        return new UpdatesSection(m_frontend, stack);
    if (id == QLatin1String("helper"))
        return new HelperSection(m_frontend, stack);
    if (id == QLatin1String("permissions"))
        return new PermissionsSection(settings, BrowserAutomation::create(), stack);
    if (id == QLatin1String("advanced"))
        return new AdvancedSection(m_frontend, stack);
    if (id == QLatin1String("network"))
        return new NetworkSection(settings, stack);
    if (id == QLatin1String("dns"))
        return new DnsSection(settings, stack);
    if (id == QLatin1String("sniffer"))
        return new SnifferSection(settings, stack);
    if (id == QLatin1String("tun"))
        return new TunSection(settings, stack);
    return new QWidget(stack);
}

} // namespace tarnwick
