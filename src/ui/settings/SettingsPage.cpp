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
#include "ui/windows/DesktopFrontend.h"
#include "ui/windows/PageHeader.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tarnwick {

SettingsPage::SettingsPage(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend), m_list(new QListWidget(this)), m_stack(new QStackedWidget(this))
{
    m_entries = {
        {QStringLiteral("general"), QStringLiteral("General"), QStringLiteral("preferences-system")},
        {QStringLiteral("network"), QStringLiteral("Network"), QStringLiteral("network-wired")},
        {QStringLiteral("dns"), QStringLiteral("DNS"), QStringLiteral("network-server")},
        {QStringLiteral("sniffer"), QStringLiteral("Sniffer"), QStringLiteral("edit-find")},
        {QStringLiteral("tun"), QStringLiteral("TUN"), QStringLiteral("network-vpn")},
        {QStringLiteral("kernel"), QStringLiteral("Kernel"), QStringLiteral("system-run")},
        {QStringLiteral("updates"), QStringLiteral("Updates"), QStringLiteral("system-software-update")},
        {QStringLiteral("helper"), QStringLiteral("Helper"), QStringLiteral("security-medium")},
        {QStringLiteral("permissions"), QStringLiteral("Permissions"),
         QStringLiteral("preferences-desktop-user-password")},
        {QStringLiteral("advanced"), QStringLiteral("Advanced"), QStringLiteral("preferences-other")},
    };
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new PageHeader(QStringLiteral("Settings"), this));
    auto* row = new QHBoxLayout;
    m_list->setAccessibleName(QStringLiteral("Settings sections"));
    m_list->setFixedWidth(160);
    m_list->setIconSize(QSize(16, 16));
    for (const Entry& entry : std::as_const(m_entries)) {
        auto* item = new QListWidgetItem(QIcon::fromTheme(entry.iconName), entry.title, m_list);
        item->setData(Qt::UserRole, entry.id);
        m_stack->addWidget(new QWidget(m_stack));
    }
    row->addWidget(m_list);
    row->addWidget(m_stack, 1);
    layout->addLayout(row, 1);

    connect(m_list, &QListWidget::currentRowChanged, this, [this](int index) {
        if (index < 0)
            return;
        section(m_entries[index].id);
        m_stack->setCurrentIndex(index);
        m_frontend.state().settings().setText(sectionKey, m_entries[index].id);
    });
    // Alt+1 … Alt+9, Alt+0: the sections in list order.
    for (int i = 0; i < m_entries.size() && i < 10; ++i) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_0 + (i + 1) % 10)), this);
        connect(shortcut, &QShortcut::activated, this, [this, i] { m_list->setCurrentRow(i); });
    }
    const qsizetype remembered = sectionIds().indexOf(m_frontend.state().settings().text(sectionKey, {}));
    m_list->setCurrentRow(int(remembered < 0 ? 0 : remembered));
}

QStringList SettingsPage::sectionIds() const
{
    QStringList ids;
    for (const Entry& entry : m_entries)
        ids.append(entry.id);
    return ids;
}

QString SettingsPage::currentSection() const
{
    const int row = m_list->currentRow();
    return row < 0 ? QString() : m_entries[row].id;
}

void SettingsPage::showSection(const QString& id)
{
    const qsizetype row = sectionIds().indexOf(id);
    if (row >= 0)
        m_list->setCurrentRow(int(row));
}

QWidget* SettingsPage::section(const QString& id)
{
    if (QWidget* existing = m_sections.value(id))
        return existing;
    const qsizetype row = sectionIds().indexOf(id);
    if (row < 0)
        return nullptr;
    QWidget* created = createSection(id);
    QWidget* placeholder = m_stack->widget(int(row));
    const bool wasCurrent = m_stack->currentIndex() == row;
    m_stack->insertWidget(int(row), created);
    m_stack->removeWidget(placeholder);
    delete placeholder;
    if (wasCurrent)
        m_stack->setCurrentIndex(int(row));
    m_sections.insert(id, created);
    return created;
}

QWidget* SettingsPage::createSection(const QString& id)
{
    Settings& settings = m_frontend.state().settings();
    if (id == QLatin1String("general"))
        return new GeneralSection(m_frontend, m_stack);
    if (id == QLatin1String("kernel"))
        return new KernelSection(m_frontend, m_stack);
    if (id == QLatin1String("updates"))
        return new UpdatesSection(m_frontend, m_stack);
    if (id == QLatin1String("helper"))
        return new HelperSection(m_frontend, m_stack);
    if (id == QLatin1String("permissions"))
        return new PermissionsSection(settings, BrowserAutomation::create(), m_stack);
    if (id == QLatin1String("advanced"))
        return new AdvancedSection(m_frontend, m_stack);
    if (id == QLatin1String("network"))
        return new NetworkSection(settings, m_stack);
    if (id == QLatin1String("dns"))
        return new DnsSection(settings, m_stack);
    if (id == QLatin1String("sniffer"))
        return new SnifferSection(settings, m_stack);
    if (id == QLatin1String("tun"))
        return new TunSection(settings, m_stack);
    return new QWidget(m_stack);
}

} // namespace tarnwick
