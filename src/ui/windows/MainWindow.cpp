#include "MainWindow.h"

#include "DesktopFrontend.h"
#include "LogsPage.h"
#include "OverviewPage.h"
#include "PolicyPage.h"
#include "ProfilesPage.h"
#include "RequestsPage.h"
#include "RulesPage.h"
#include "TrafficMapPage.h"
#include "app/AppState.h"
#include "platform/Settings.h"
#include "ui/SidebarStack.h"
#include "ui/settings/SettingsPage.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QShortcut>
#include <QVBoxLayout>

namespace tarnwick {

MainWindow::MainWindow(DesktopFrontend& frontend, QWidget* parent) : QMainWindow(parent), m_frontend(frontend)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Tarnwick"));
    setMinimumSize(720, 480);
    struct Page
    {
        const char* id;
        const char* title;
        const char* themeIcon; // else the one of resources/icons named after the page
    };
    // In sidebar order: overview, map, policy, requests, rules, profiles, logs, settings.
    const Page pages[] = {
        {"overview", "Overview", "view-statistics"}, {"map", "Traffic Map", "globe"},
        {"policy", "Policy", "network-server"},      {"requests", "Requests", "network-transmit-receive"},
        {"rules", "Rules", "view-filter"},           {"profiles", "Profiles", "document-open"},
        {"logs", "Logs", "text-x-generic"},          {"settings", "Settings", "preferences-system"},
    };
    QList<SidebarStack::Entry> entries;
    for (const Page& page : pages) {
        const QString id = QLatin1String(page.id);
        entries.append({id, QLatin1String(page.title),
                        QIcon::fromTheme(QLatin1String(page.themeIcon),
                                         QIcon(QStringLiteral(":/icons/%1.svg").arg(id)))});
    }

    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_notice = new QLabel(central);
    m_notice->setWordWrap(true);
    m_notice->setMargin(8);
    m_notice->setFrameShape(QFrame::StyledPanel);
    m_notice->setAccessibleName(QStringLiteral("Notice"));
    m_notice->hide();
    outer->addWidget(m_notice);

    m_pages = new SidebarStack(
        std::move(entries), [this](const QString& id, QWidget* parent) { return createPage(id, parent); },
        central);
    m_pages->layout()->setSpacing(0);
    QListWidget& sidebar = m_pages->list();
    sidebar.setAccessibleName(QStringLiteral("Pages"));
    sidebar.setFrameShape(QFrame::NoFrame);
    sidebar.setIconSize(QSize(20, 20));
    sidebar.setFixedWidth(180);
    sidebar.setSpacing(2);
    for (int i = 0; i < sidebar.count(); ++i)
        sidebar.item(i)->setSizeHint(QSize(0, 34));
    outer->addWidget(m_pages, 1);
    setCentralWidget(central);

    for (int i = 0; i < sidebar.count() && i < 9; ++i) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)), this);
        connect(shortcut, &QShortcut::activated, this, [this, i] { m_pages->list().setCurrentRow(i); });
    }
    connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);

    Settings& settings = m_frontend.state().settings();
    if (const std::optional<QString> geometry = settings.text(geometryKey))
        restoreGeometry(QByteArray::fromBase64(geometry->toLatin1()));
    else
        resize(1120, 720);
    const QStringList ids = pageIds();
    const qsizetype remembered = ids.indexOf(settings.text(pageKey, ids.first()));
    sidebar.setCurrentRow(int(remembered < 0 ? 0 : remembered));
    sidebar.setFocus();
}

MainWindow::~MainWindow() = default;

QStringList MainWindow::pageIds() const
{
    return m_pages->ids();
}

QString MainWindow::currentPage() const
{
    return m_pages->currentId();
}

void MainWindow::showPage(const QString& id)
{
    m_pages->select(id);
}

QWidget* MainWindow::page(const QString& id)
{
    return m_pages->content(id);
}

QWidget* MainWindow::createPage(const QString& id, QWidget* parent)
{
    AppState& state = m_frontend.state();
    if (id == QLatin1String("policy"))
        return new PolicyPage(state, parent);
    if (id == QLatin1String("requests"))
        return new RequestsPage(state.connectionStore(), parent);
    if (id == QLatin1String("overview"))
        return new OverviewPage(m_frontend, parent);
    if (id == QLatin1String("map"))
        return new TrafficMapPage(m_frontend, parent);
    if (id == QLatin1String("rules"))
        return new RulesPage(m_frontend, parent);
    if (id == QLatin1String("profiles"))
        return new ProfilesPage(m_frontend, parent);
    if (id == QLatin1String("logs"))
        return new LogsPage(state, parent);
    if (id == QLatin1String("settings"))
        return new SettingsPage(m_frontend, parent);
    return new QWidget(parent);
}

void MainWindow::showNotice(const QString& text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

void MainWindow::saveState() const
{
    Settings& settings = m_frontend.state().settings();
    settings.setText(geometryKey, QString::fromLatin1(saveGeometry().toBase64()));
    settings.setText(pageKey, currentPage());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    saveState();
    event->accept();
    if (m_quitOnClose)
        m_frontend.quit();
}

} // namespace tarnwick
