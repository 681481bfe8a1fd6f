#include "PermissionsSection.h"

#include "platform/Settings.h"
#include "ui/menubar/WebpageCapture.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarnwick {

PermissionsSection::PermissionsSection(Settings& settings, std::unique_ptr<BrowserAutomation> automation,
                                       QWidget* parent)
    : QWidget(parent), m_settings(settings), m_automation(std::move(automation))
{
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Browser Automations"), this);
    auto* inner = new QVBoxLayout(group);
    auto* intro = new QLabel(
        QStringLiteral(
            "\"Add Rule for Current Webpage…\" in the tray menu reads the page of the active browser "
            "window from the session file the browser keeps, so the page may be a few seconds old. "
            "A browser that is running and whose session file can be read is authorized."),
        group);
    intro->setWordWrap(true);
    inner->addWidget(intro);
    m_desktop = new QLabel(group);
    m_desktop->setWordWrap(true);
    m_desktop->setAccessibleName(QStringLiteral("Desktop"));
    inner->addWidget(m_desktop);
    m_browsers = new QTreeWidget(group);
    m_browsers->setAccessibleName(QStringLiteral("Browsers"));
    m_browsers->setRootIsDecorated(false);
    m_browsers->setColumnCount(3);
    m_browsers->setHeaderLabels(
        {QStringLiteral("Browser"), QStringLiteral("Installed"), QStringLiteral("Status")});
    m_browsers->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    inner->addWidget(m_browsers, 1);
    auto* refresh =
        new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh")), QStringLiteral("Refresh"), group);
    refresh->setAccessibleName(QStringLiteral("Refresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    inner->addWidget(refresh, 0, Qt::AlignLeft);
    layout->addWidget(group, 1);
    connect(refresh, &QPushButton::clicked, this, &PermissionsSection::refresh);
    this->refresh();
}

QString PermissionsSection::statusLabel(AutomationStatus status)
{
    switch (status) {
    case AutomationStatus::authorized:
        return QStringLiteral("Authorized");
    case AutomationStatus::denied:
        return QStringLiteral("Denied — its session file cannot be read");
    case AutomationStatus::notRunning:
        return QStringLiteral("Not running");
    case AutomationStatus::notDetermined:
        break;
    }
    return QStringLiteral("Not determined — no session file yet");
}

void PermissionsSection::refresh()
{
    const QString reason = m_automation->unavailableReason();
    m_desktop->setText(reason);
    m_desktop->setVisible(!reason.isEmpty());
    m_browsers->clear();
    QJsonObject cache;
    // Installed browsers first, each group in the table's order.
    for (const bool installedPass : {true, false}) {
        for (const BrowserInfo& browser : WebpageCapture::supportedBrowsers()) {
            const bool installed = m_automation->isInstalled(browser.bundleId);
            if (installed != installedPass)
                continue;
            const AutomationStatus status = installed
                                                ? m_automation->automationStatus(browser.bundleId, false)
                                                : AutomationStatus::notRunning;
            cache.insert(browser.bundleId, rawValue(status));
            auto* item = new QTreeWidgetItem(
                m_browsers,
                {browser.name, installed ? QStringLiteral("Installed") : QStringLiteral("Not installed"),
                 installed ? statusLabel(status) : QString()});
            item->setData(0, Qt::UserRole, browser.bundleId);
            item->setDisabled(!installed);
        }
    }
    m_settings.setText(cacheKey, QString::fromUtf8(QJsonDocument(cache).toJson(QJsonDocument::Compact)));
}

} // namespace tarnwick
