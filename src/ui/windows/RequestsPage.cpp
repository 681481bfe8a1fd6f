#include "RequestsPage.h"

#include "LiveTableView.h"
#include "PageHeader.h"
#include "controller/ConnectionStore.h"
#include "platform/Error.h"
#include "ui/models/ConnectionListModel.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnwick {

RequestsPage::RequestsPage(ConnectionStore& store, QWidget* parent)
    : QWidget(parent), m_store(store), m_active(new ConnectionListModel(this)),
      m_closed(new ConnectionListModel(this)), m_activeFilter(new QSortFilterProxyModel(this)),
      m_closedFilter(new QSortFilterProxyModel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Requests"), this);
    QPushButton* closeAllButton =
        header->addButton(QStringLiteral("Close All"), QStringLiteral("process-stop"));
    QLineEdit* filter = header->addFilter(QStringLiteral("Filter by host, process, rule or chain"));
    layout->addWidget(header);

    for (auto [proxy, model] : {std::pair{m_activeFilter, m_active}, std::pair{m_closedFilter, m_closed}}) {
        proxy->setSourceModel(model);
        proxy->setSortRole(ConnectionListModel::SortRole);
        proxy->setFilterRole(ConnectionListModel::SearchTextRole);
        proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
        proxy->setFilterKeyColumn(ConnectionListModel::HostColumn);
        connect(filter, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    }
    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    m_activeView = makeView(m_activeFilter);
    m_closedView = makeView(m_closedFilter);
    m_tabs->addTab(m_activeView, QString());
    m_tabs->addTab(m_closedView, QString());
    layout->addWidget(m_tabs, 1);
    m_status = new QLabel(this);
    m_status->setAccessibleName(QStringLiteral("Status"));
    layout->addWidget(m_status);

    m_activeView->sortByColumn(ConnectionListModel::DurationColumn, Qt::AscendingOrder);
    m_closedView->setSortingEnabled(false);
    m_activeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_activeView, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (!m_activeView->currentIndex().isValid())
            return;
        QMenu menu;
        menu.addAction(QStringLiteral("Close Connection"), this, &RequestsPage::closeSelected);
        menu.exec(m_activeView->viewport()->mapToGlobal(position));
    });
    auto* remove = new QShortcut(QKeySequence::Delete, m_activeView, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, &RequestsPage::closeSelected);
    connect(closeAllButton, &QPushButton::clicked, this, &RequestsPage::closeAll);
    connect(&m_store, &ConnectionStore::activeConnectionsChanged, this, &RequestsPage::refreshActive);
    connect(&m_store, &ConnectionStore::closedConnectionsChanged, this, &RequestsPage::refreshClosed);
    connect(&m_store, &ConnectionStore::streamingChanged, this, &RequestsPage::updateTitles);
    // Durations move on once a second while the page is seen.
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, [this] { m_active->setNow(QDateTime::currentDateTimeUtc()); });
    refreshActive();
    refreshClosed();
}

QTreeView* RequestsPage::makeView(QSortFilterProxyModel* proxy)
{
    auto* view = new LiveTableView(this);
    view->setModel(proxy);
    view->setAlternatingRowColors(true);
    view->setSortingEnabled(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setTextElideMode(Qt::ElideMiddle);
    view->setAccessibleName(QStringLiteral("Connections"));
    QHeaderView* header = view->header();
    // The host takes what the numbers leave: rates, totals and duration stay in sight at the window's
    // default size, and long hosts elide in the middle.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(ConnectionListModel::HostColumn, QHeaderView::Stretch);
    header->setMinimumSectionSize(48);
    header->resizeSection(ConnectionListModel::ProcessColumn, 90);
    header->resizeSection(ConnectionListModel::RuleColumn, 120);
    header->resizeSection(ConnectionListModel::ChainColumn, 120);
    // Wide enough for the longest figure in the digits' font, so numbers never elide.
    const QFontMetrics digits(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int numberWidth = digits.horizontalAdvance(QStringLiteral("888.8 MB/s")) + 12;
    for (int column = ConnectionListModel::UploadSpeedColumn; column < ConnectionListModel::ColumnCount;
         ++column)
        header->resizeSection(column, numberWidth);
    return view;
}

void RequestsPage::showEvent(QShowEvent* event)
{
    if (m_stale)
        refreshActive();
    m_active->setNow(QDateTime::currentDateTimeUtc());
    m_clock.start();
    QWidget::showEvent(event);
}

void RequestsPage::hideEvent(QHideEvent* event)
{
    m_clock.stop();
    QWidget::hideEvent(event);
}

void RequestsPage::refreshActive()
{
    // A page nobody sees (another page of the window is open) catches up when it is shown again.
    m_stale = !isVisible() && m_active->rowCount() > 0;
    if (m_stale)
        return;
    m_active->update(m_store.activeConnections());
    updateTitles();
}

void RequestsPage::refreshClosed()
{
    m_closed->update(m_store.closedConnections());
    updateTitles();
}

void RequestsPage::updateTitles()
{
    // Each change of a tab's or the status line's text lays the page out again: only real changes count.
    const auto setTabText = [this](int tab, const QString& text) {
        if (m_tabs->tabText(tab) != text)
            m_tabs->setTabText(tab, text);
    };
    setTabText(0, QStringLiteral("Active (%1)").arg(m_active->rowCount()));
    setTabText(1, QStringLiteral("Recently Closed (%1)").arg(m_closed->rowCount()));
    QString status;
    if (!m_error.isEmpty())
        status = m_error;
    else if (!m_store.isStreaming())
        status =
            m_active->rowCount() > 0
                ? QStringLiteral("The kernel is not running: these are the last connections it reported.")
                : QStringLiteral(
                      "The kernel is not running: start it from the tray menu to see its connections.");
    if (m_status->text() != status)
        m_status->setText(status);
}

QString RequestsPage::statusText() const
{
    return m_status->text();
}

void RequestsPage::showError(const std::exception& error)
{
    m_error = QStringLiteral("\u26A0 ") + describe(error);
    updateTitles();
}

void RequestsPage::clearError()
{
    m_error.clear();
    updateTitles();
}

void RequestsPage::closeSelected()
{
    QStringList ids;
    for (const QModelIndex& index : m_activeView->selectionModel()->selectedRows())
        ids.append(index.data(ConnectionListModel::ConnectionIdRole).toString());
    if (!ids.isEmpty())
        closeTask(this, ids);
}

void RequestsPage::closeAll()
{
    closeAllTask(this);
}

QCoro::Task<> RequestsPage::closeTask(QPointer<RequestsPage> self, QStringList ids)
{
    try {
        for (const QString& id : ids) {
            co_await self->m_store.closeConnection(id);
            if (!self)
                co_return;
        }
        self->clearError();
    } catch (const std::exception& error) {
        if (self)
            self->showError(error);
    }
}

QCoro::Task<> RequestsPage::closeAllTask(QPointer<RequestsPage> self)
{
    try {
        co_await self->m_store.closeAllConnections();
        if (self)
            self->clearError();
    } catch (const std::exception& error) {
        if (self)
            self->showError(error);
    }
}

} // namespace tarnwick
