#include "PolicyPage.h"

#include "PageHeader.h"
#include "app/AppState.h"
#include "controller/DelayLevel.h"
#include "controller/ProxyStore.h"
#include "controller/RateFormatter.h"
#include "platform/Error.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStackedLayout>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarnwick {

PolicyPage::PolicyPage(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_store(state.proxyStore()), m_model(new ProxyTreeModel(this)),
      m_filter(new QSortFilterProxyModel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Policy"), this);
    m_testGroup = header->addButton(QStringLiteral("Test Group"), QStringLiteral("view-refresh"));
    m_testGroup->setToolTip(QStringLiteral("Test the latency of the current group's members (Ctrl+T)"));
    QPushButton* testAllButton =
        header->addButton(QStringLiteral("Test All"), QStringLiteral("view-refresh"));
    testAllButton->setToolTip(QStringLiteral("Test the latency of every group (Ctrl+R)"));
    QLineEdit* filter = header->addFilter(QStringLiteral("Filter groups and nodes"));
    layout->addWidget(header);

    auto* switches = new QHBoxLayout;
    m_modes = new QButtonGroup(this);
    const QStringList modeTitles{QStringLiteral("Rule"), QStringLiteral("Global"), QStringLiteral("Direct")};
    for (int i = 0; i < allOutboundModes().size(); ++i) {
        auto* button = new QPushButton(modeTitles[i], this);
        button->setCheckable(true);
        button->setAccessibleName(modeTitles[i] + QStringLiteral(" mode"));
        // The chosen mode in the selection's colours: the style's own pressed look is faint in dark palettes.
        connect(button, &QAbstractButton::toggled, button, [button](bool checked) {
            QPalette palette;
            if (checked) {
                const QPalette inherited = button->parentWidget()->palette();
                palette.setColor(QPalette::Button, inherited.color(QPalette::Highlight));
                palette.setColor(QPalette::ButtonText, inherited.color(QPalette::HighlightedText));
            }
            button->setPalette(palette);
        });
        m_modes->addButton(button, i);
        switches->addWidget(button);
    }
    switches->addSpacing(16);
    m_hideUnavailable = new QCheckBox(QStringLiteral("Hide unavailable nodes"), this);
    m_showHidden = new QCheckBox(QStringLiteral("Show hidden groups"), this);
    switches->addWidget(m_hideUnavailable);
    switches->addWidget(m_showHidden);
    switches->addStretch(1);
    layout->addLayout(switches);

    m_filter->setSourceModel(m_model);
    m_filter->setFilterRole(ProxyTreeModel::SearchTextRole);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_filter->setRecursiveFilteringEnabled(true);
    m_view = new QTreeView(this);
    m_view->setModel(m_filter);
    m_view->setUniformRowHeights(true);
    m_view->setAlternatingRowColors(true);
    m_view->setTextElideMode(Qt::ElideMiddle);
    m_view->setAccessibleName(QStringLiteral("Proxy groups"));
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setSectionResizeMode(ProxyTreeModel::NameColumn, QHeaderView::Stretch);
    m_view->header()->setSectionResizeMode(ProxyTreeModel::KindColumn, QHeaderView::Interactive);
    m_view->header()->resizeSection(ProxyTreeModel::KindColumn, 150);
    m_view->header()->setSectionResizeMode(ProxyTreeModel::DelayColumn, QHeaderView::Interactive);
    m_view->header()->resizeSection(ProxyTreeModel::DelayColumn, 90);

    m_providerBox = new QWidget(this);
    auto* providerLayout = new QVBoxLayout(m_providerBox);
    providerLayout->setContentsMargins(0, 0, 0, 0);
    auto* providerActions = new QHBoxLayout;
    auto* providerTitle = new QLabel(QStringLiteral("Providers"), m_providerBox);
    QFont titleFont = providerTitle->font();
    titleFont.setWeight(QFont::DemiBold);
    providerTitle->setFont(titleFont);
    providerActions->addWidget(providerTitle);
    providerActions->addStretch(1);
    auto* updateProvider = new QPushButton(QIcon::fromTheme(QStringLiteral("download")),
                                           QStringLiteral("Update"), m_providerBox);
    auto* checkProvider = new QPushButton(QStringLiteral("Health Check"), m_providerBox);
    providerActions->addWidget(updateProvider);
    providerActions->addWidget(checkProvider);
    providerLayout->addLayout(providerActions);
    m_providers = new QTreeWidget(m_providerBox);
    providerLayout->addWidget(m_providers);
    m_providers->setHeaderLabels({QStringLiteral("Provider"), QStringLiteral("Source"),
                                  QStringLiteral("Nodes"), QStringLiteral("Quota"),
                                  QStringLiteral("Updated")});
    m_providers->setRootIsDecorated(false);
    m_providers->setAccessibleName(QStringLiteral("Providers"));
    m_providers->setContextMenuPolicy(Qt::CustomContextMenu);
    m_providers->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_providers->header()->setStretchLastSection(false);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_view);
    splitter->addWidget(m_providerBox);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    m_empty = new QLabel(this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    auto* host = new QWidget(this);
    m_content = new QStackedLayout(host);
    m_content->addWidget(splitter);
    m_content->addWidget(m_empty);
    layout->addWidget(host, 1);
    m_status = new QLabel(this);
    m_status->setAccessibleName(QStringLiteral("Status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);

    connect(filter, &QLineEdit::textChanged, m_filter, &QSortFilterProxyModel::setFilterFixedString);
    connect(m_testGroup, &QPushButton::clicked, this, &PolicyPage::testCurrentGroup);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this), &QShortcut::activated, this,
            &PolicyPage::testCurrentGroup);
    connect(updateProvider, &QPushButton::clicked, this, &PolicyPage::updateCurrentProvider);
    connect(checkProvider, &QPushButton::clicked, this, &PolicyPage::checkCurrentProvider);
    connect(testAllButton, &QPushButton::clicked, this, &PolicyPage::testAll);
    connect(new QShortcut(QKeySequence::Refresh, this), &QShortcut::activated, this, &PolicyPage::testAll);
    connect(m_view, &QTreeView::activated, this, &PolicyPage::activate);
    connect(m_view, &QTreeView::clicked, this, [this](const QModelIndex& index) {
        if (index.parent().isValid())
            activate(index);
    });
    connect(m_modes, &QButtonGroup::idClicked, this, [this](int mode) { modeTask(this, mode); });
    connect(m_hideUnavailable, &QCheckBox::toggled, this,
            [this](bool on) { m_store.setHideUnavailableProxies(on); });
    connect(m_showHidden, &QCheckBox::toggled, this, [this](bool on) { m_store.setShowHiddenGroups(on); });
    connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        const QModelIndex index = m_view->indexAt(position);
        if (!index.isValid())
            return;
        const QString group = index.data(ProxyTreeModel::GroupNameRole).toString();
        QMenu menu;
        if (index.parent().isValid() && index.data(ProxyTreeModel::IsSelectableRole).toBool())
            menu.addAction(QStringLiteral("Select"), this, [this, index] { activate(index); });
        menu.addAction(QStringLiteral("Test Latency of %1").arg(group), this,
                       [this, group] { groupTestTask(this, group); });
        menu.exec(m_view->viewport()->mapToGlobal(position));
    });
    connect(m_providers, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        const QTreeWidgetItem* item = m_providers->itemAt(position);
        if (!item)
            return;
        const QString name = item->text(0);
        QMenu menu;
        menu.addAction(QStringLiteral("Update"), this, [this, name] { providerTask(this, name, true); });
        menu.addAction(QStringLiteral("Health Check"), this,
                       [this, name] { providerTask(this, name, false); });
        menu.exec(m_providers->viewport()->mapToGlobal(position));
    });
    for (auto signal :
         {&ProxyStore::groupsChanged, &ProxyStore::delayMapChanged, &ProxyStore::activityChanged,
          &ProxyStore::localProxiesChanged, &ProxyStore::settingsChanged})
        connect(&m_store, signal, this, &PolicyPage::scheduleRefresh);
    connect(&m_store, &ProxyStore::providersChanged, this, &PolicyPage::refreshProviders);
    connect(&m_store, &ProxyStore::activityChanged, this, &PolicyPage::refreshProviders);
    connect(&m_store, &ProxyStore::modeChanged, this, &PolicyPage::refreshMode);
    connect(&m_state, &AppState::kernelStatusChanged, this, &PolicyPage::scheduleRefresh);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(100);
    connect(&m_refreshTimer, &QTimer::timeout, this, &PolicyPage::refresh);
    refresh();
    refreshProviders();
    refreshMode();
}

QList<ProxyTreeModel::Group> PolicyPage::rows() const
{
    const QHash<QString, qint64>& delays = m_store.delayMap();
    const auto delayOf = [&](const ProxyNode& node) -> std::optional<qint64> {
        const auto found = delays.constFind(node.name);
        return found != delays.cend() ? std::optional<qint64>(*found) : node.delay;
    };
    const auto membersOf = [&](const QList<ProxyNode>& nodes, const QString& selected, bool testingGroup) {
        QList<ProxyTreeModel::Member> members;
        members.reserve(nodes.size());
        for (const ProxyNode& node : nodes) {
            const std::optional<qint64> delay = delayOf(node);
            // An unavailable node stays listed while it is the selection: hiding it would hide the truth.
            if (m_store.hideUnavailableProxies() && delay && delayLevel(*delay) == DelayLevel::timeout &&
                node.name != selected)
                continue;
            members.append({node.name, node.detailLabel(), delay,
                            testingGroup || m_store.testingNodes().contains(node.name)});
        }
        return members;
    };
    QList<ProxyTreeModel::Group> groups;
    for (const ProxyGroup& group : m_store.groups()) {
        if (group.isHidden && !m_store.showHiddenGroups())
            continue;
        const QString selected = group.selectedProxyName.value_or(QString());
        const bool testing = m_store.testingGroups().contains(group.name);
        groups.append({group.name, QString(), rawValue(group.type), selected, isSelectable(group.type),
                       m_store.effectiveDelay(group.name), testing,
                       membersOf(group.proxies, selected, testing)});
    }
    if (!m_store.localProxies().isEmpty())
        groups.append({ProxyStore::localProxiesGroup, localProxiesTitle, QStringLiteral("Local"), QString(),
                       false, std::nullopt, m_store.isTestingLocalProxies(),
                       membersOf(m_store.localProxies(), QString(), m_store.isTestingLocalProxies())});
    return groups;
}

void PolicyPage::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void PolicyPage::refresh()
{
    m_refreshTimer.stop();
    const bool wasEmpty = m_model->rowCount() == 0;
    m_model->update(rows());
    // The first group opens by itself the first time there is one: the page shows nodes, not only headings.
    if (wasEmpty && m_model->rowCount() > 0 && !m_view->isExpanded(m_filter->index(0, 0)))
        m_view->expand(m_filter->index(0, 0));
    const QSignalBlocker hideBlocker(m_hideUnavailable);
    const QSignalBlocker hiddenBlocker(m_showHidden);
    m_hideUnavailable->setChecked(m_store.hideUnavailableProxies());
    m_showHidden->setChecked(m_store.showHiddenGroups());
    const bool running = m_state.kernelStatus().kind == KernelStatus::Kind::running;
    if (m_model->rowCount() > 0) {
        m_content->setCurrentIndex(0);
    } else {
        m_empty->setText(running
                             ? QStringLiteral("The active profile defines no proxy groups.")
                             : QStringLiteral("The kernel is not running — start it from the tray menu to "
                                              "see and choose its proxies."));
        m_content->setCurrentIndex(1);
    }
    for (QAbstractButton* button : m_modes->buttons())
        button->setEnabled(running);
    m_testGroup->setEnabled(running);
    if (!m_error.isEmpty())
        m_status->setText(m_error);
    else if (!running && m_model->rowCount() > 0)
        m_status->setText(
            QStringLiteral("The kernel is not running: selections and delays are the last known."));
    else
        m_status->clear();
}

QString PolicyPage::statusText() const
{
    return m_status->text();
}

void PolicyPage::refreshMode()
{
    m_modes->button(int(allOutboundModes().indexOf(m_store.mode())))->setChecked(true);
}

void PolicyPage::refreshProviders()
{
    QSet<QString> names;
    for (const ProxyProvider& provider : m_store.providers()) {
        names.insert(provider.name);
        QTreeWidgetItem*& item = m_providerItems[provider.name];
        if (!item)
            item = new QTreeWidgetItem(m_providers);
        const bool busy = m_store.updatingProviders().contains(provider.name) ||
                          m_store.testingProviders().contains(provider.name);
        const QStringList texts{provider.name, provider.vehicleType, QString::number(provider.proxies.size()),
                                provider.subscriptionInfo
                                    ? RateFormatter::bytes(provider.subscriptionInfo->upload +
                                                           provider.subscriptionInfo->download) +
                                          QStringLiteral(" of ") +
                                          RateFormatter::bytes(provider.subscriptionInfo->total)
                                    : QString(),
                                busy ? QStringLiteral("Working…") : provider.updatedAt};
        for (int column = 0; column < texts.size(); ++column) {
            if (item->text(column) != texts[column])
                item->setText(column, texts[column]);
        }
    }
    for (auto it = m_providerItems.begin(); it != m_providerItems.end();) {
        if (names.contains(it.key())) {
            ++it;
            continue;
        }
        delete it.value();
        it = m_providerItems.erase(it);
    }
    m_providerBox->setVisible(!m_providerItems.isEmpty());
}

QString PolicyPage::currentProvider() const
{
    const QTreeWidgetItem* item = m_providers->currentItem();
    if (!item && m_providers->topLevelItemCount() == 1)
        item = m_providers->topLevelItem(0);
    return item ? item->text(0) : QString();
}

void PolicyPage::updateCurrentProvider()
{
    if (const QString name = currentProvider(); !name.isEmpty())
        providerTask(this, name, true);
}

void PolicyPage::checkCurrentProvider()
{
    if (const QString name = currentProvider(); !name.isEmpty())
        providerTask(this, name, false);
}

void PolicyPage::testCurrentGroup()
{
    const QModelIndex current = m_view->currentIndex();
    const QString group = current.isValid()
                              ? current.data(ProxyTreeModel::GroupNameRole).toString()
                              : m_model->index(0, 0).data(ProxyTreeModel::GroupNameRole).toString();
    if (!group.isEmpty())
        groupTestTask(this, group);
}

void PolicyPage::activate(const QModelIndex& index)
{
    if (!index.parent().isValid()) {
        m_view->setExpanded(index.sibling(index.row(), 0),
                            !m_view->isExpanded(index.sibling(index.row(), 0)));
        return;
    }
    if (!index.data(ProxyTreeModel::IsSelectableRole).toBool())
        return;
    selectTask(this, index.data(ProxyTreeModel::GroupNameRole).toString(),
               index.data(ProxyTreeModel::MemberNameRole).toString());
}

void PolicyPage::testAll()
{
    allTestTask(this);
}

void PolicyPage::showError(const QString& action, const std::exception& error)
{
    m_error = QStringLiteral("\u26A0 ") + action + QStringLiteral(": ") + describe(error);
    m_status->setText(m_error);
}

QCoro::Task<> PolicyPage::selectTask(QPointer<PolicyPage> self, QString group, QString member)
{
    try {
        co_await self->m_store.selectProxy(group, member);
        if (self && !self->m_error.isEmpty()) {
            self->m_error.clear();
            self->refresh();
        }
    } catch (const std::exception& error) {
        if (self)
            self->showError(QStringLiteral("Selecting %1 in %2").arg(member, group), error);
    }
}

QCoro::Task<> PolicyPage::modeTask(QPointer<PolicyPage> self, int mode)
{
    try {
        co_await self->m_store.setMode(allOutboundModes().value(mode));
        if (self && !self->m_error.isEmpty()) {
            self->m_error.clear();
            self->refresh();
        }
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        self->showError(QStringLiteral("Switching the mode"), error);
        self->refreshMode();
    }
}

QCoro::Task<> PolicyPage::groupTestTask(QPointer<PolicyPage> self, QString group)
{
    try {
        if (group == ProxyStore::localProxiesGroup)
            co_await self->m_store.testLocalProxies();
        else
            co_await self->m_store.testGroupDelay(group);
    } catch (const std::exception& error) {
        if (self)
            self->showError(QStringLiteral("Testing %1").arg(group), error);
    }
}

QCoro::Task<> PolicyPage::allTestTask(QPointer<PolicyPage> self)
{
    try {
        co_await self->m_store.testAllGroups();
    } catch (const std::exception& error) {
        if (self)
            self->showError(QStringLiteral("Testing all groups"), error);
    }
}

QCoro::Task<> PolicyPage::providerTask(QPointer<PolicyPage> self, QString provider, bool update)
{
    try {
        if (update)
            co_await self->m_store.updateProvider(provider);
        else
            co_await self->m_store.healthCheckProvider(provider);
        if (self && !self->m_error.isEmpty()) {
            self->m_error.clear();
            self->refresh();
        }
    } catch (const std::exception& error) {
        if (self)
            self->showError(
                (update ? QStringLiteral("Updating %1") : QStringLiteral("Checking %1")).arg(provider),
                error);
    }
}

} // namespace tarnwick
