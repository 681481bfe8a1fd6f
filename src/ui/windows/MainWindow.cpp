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
#include "ui/settings/SettingsPage.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tarnwick {

MainWindow::MainWindow(DesktopFrontend& frontend, QWidget* parent) : QMainWindow(parent), m_frontend(frontend)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Tarnwick"));
    setMinimumSize(720, 480);
    // In sidebar order: overview, map, policy, requests, rules, profiles, logs, settings.
    m_entries = {
        {QStringLiteral("overview"), QStringLiteral("Overview"), QStringLiteral("view-statistics"),
         QStringLiteral(":/icons/overview.svg")},
        {QStringLiteral("map"), QStringLiteral("Traffic Map"), QStringLiteral("globe"),
         QStringLiteral(":/icons/map.svg")},
        {QStringLiteral("policy"), QStringLiteral("Policy"), QStringLiteral("network-server"),
         QStringLiteral(":/icons/policy.svg")},
        {QStringLiteral("requests"), QStringLiteral("Requests"), QStringLiteral("network-transmit-receive"),
         QStringLiteral(":/icons/requests.svg")},
        {QStringLiteral("rules"), QStringLiteral("Rules"), QStringLiteral("view-filter"),
         QStringLiteral(":/icons/rules.svg")},
        {QStringLiteral("profiles"), QStringLiteral("Profiles"), QStringLiteral("document-open"),
         QStringLiteral(":/icons/profiles.svg")},
        {QStringLiteral("logs"), QStringLiteral("Logs"), QStringLiteral("text-x-generic"),
         QStringLiteral(":/icons/logs.svg")},
        {QStringLiteral("settings"), QStringLiteral("Settings"), QStringLiteral("preferences-system"),
         QStringLiteral(":/icons/settings.svg")},
    };

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

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_sidebar = new QListWidget(central);
    m_sidebar->setAccessibleName(QStringLiteral("Pages"));
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(20, 20));
    m_sidebar->setFixedWidth(180);
    m_sidebar->setSpacing(2);
    m_stack = new QStackedWidget(central);
    for (const PageEntry& entry : std::as_const(m_entries)) {
        auto* item = new QListWidgetItem(QIcon::fromTheme(entry.iconName, QIcon(entry.fallbackIcon)),
                                         entry.title, m_sidebar);
        item->setData(Qt::UserRole, entry.id);
        item->setSizeHint(QSize(0, 34));
        // A placeholder until the page is first shown: pages cost nothing until they are used.
        m_stack->addWidget(new QWidget(m_stack));
    }
    row->addWidget(m_sidebar);
    row->addWidget(m_stack, 1);
    outer->addLayout(row, 1);
    setCentralWidget(central);

    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        page(m_entries[row].id);
        m_stack->setCurrentIndex(row);
    });
    for (int i = 0; i < m_entries.size() && i < 9; ++i) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)), this);
        connect(shortcut, &QShortcut::activated, this, [this, i] { m_sidebar->setCurrentRow(i); });
    }
    connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);

    Settings& settings = m_frontend.state().settings();
    if (const std::optional<QString> geometry = settings.text(geometryKey))
        restoreGeometry(QByteArray::fromBase64(geometry->toLatin1()));
    else
        resize(1120, 720);
    const QStringList ids = pageIds();
    const qsizetype remembered = ids.indexOf(settings.text(pageKey, ids.first()));
    m_sidebar->setCurrentRow(int(remembered < 0 ? 0 : remembered));
    m_sidebar->setFocus();
}

MainWindow::~MainWindow() = default;

QStringList MainWindow::pageIds() const
{
    QStringList ids;
    for (const PageEntry& entry : m_entries)
        ids.append(entry.id);
    return ids;
}

QString MainWindow::currentPage() const
{
    const int row = m_sidebar->currentRow();
    return row < 0 ? QString() : m_entries[row].id;
}

void MainWindow::showPage(const QString& id)
{
    const qsizetype row = pageIds().indexOf(id);
    if (row >= 0)
        m_sidebar->setCurrentRow(int(row));
}

QWidget* MainWindow::page(const QString& id)
{
    if (QWidget* existing = m_pages.value(id))
        return existing;
    const qsizetype row = pageIds().indexOf(id);
    if (row < 0)
        return nullptr;
    QWidget* created = createPage(id);
    QWidget* placeholder = m_stack->widget(int(row));
    const bool wasCurrent = m_stack->currentIndex() == row;
    m_stack->insertWidget(int(row), created);
    m_stack->removeWidget(placeholder);
    delete placeholder;
    if (wasCurrent)
        m_stack->setCurrentIndex(int(row));
    m_pages.insert(id, created);
    return created;
}

QWidget* MainWindow::createPage(const QString& id)
{
    AppState& state = m_frontend.state();
    if (id == QLatin1String("policy"))
        return new PolicyPage(state, m_stack);
    if (id == QLatin1String("requests"))
        return new RequestsPage(state.connectionStore(), m_stack);
    if (id == QLatin1String("overview"))
        return new OverviewPage(m_frontend, m_stack);
    if (id == QLatin1String("map"))
        return new TrafficMapPage(m_frontend, m_stack);
    if (id == QLatin1String("rules"))
        return new RulesPage(m_frontend, m_stack);
    if (id == QLatin1String("profiles"))
        return new ProfilesPage(m_frontend, m_stack);
    if (id == QLatin1String("logs"))
        return new LogsPage(state, m_stack);
    if (id == QLatin1String("settings"))
        return new SettingsPage(m_frontend, m_stack);
    return new QWidget(m_stack);
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
