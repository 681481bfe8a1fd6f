#include "ProfilesPage.h"

#include "DesktopFrontend.h"
#include "PageHeader.h"
#include "app/AppState.h"
#include "config/ProfileStore.h"
#include "config/SubscriptionManager.h"
#include "platform/Error.h"
#include "ui/menubar/MenuBarManager.h"
#include "ui/models/ProfileListModel.h"

#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

// The quota column: the text at the top of the row, a thin bar of the share used in a strip of its own
// below it.
class QuotaDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(0, kStrip);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem top = option;
        top.displayAlignment = Qt::AlignLeft | Qt::AlignTop;
        QStyledItemDelegate::paint(painter, top, index);
        const QVariant fraction = index.data(ProfileListModel::QuotaFractionRole);
        if (!fraction.isValid())
            return;
        const QRect bar(option.rect.left() + 4, option.rect.bottom() - kStrip + 2, option.rect.width() - 8,
                        3);
        const bool selected = option.state & QStyle::State_Selected;
        const QColor ink = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QColor track = ink;
        track.setAlphaF(0.2);
        painter->save();
        painter->fillRect(bar, track);
        QRect used = bar;
        used.setWidth(int(bar.width() * fraction.toDouble()));
        painter->fillRect(used, selected ? ink : option.palette.color(QPalette::Highlight));
        painter->restore();
    }

private:
    static constexpr int kStrip = 6;
};

} // namespace

ProfilesPage::ProfilesPage(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend), m_model(new ProfileListModel(this)),
      m_filter(new QSortFilterProxyModel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Profiles"), this);
    m_updateAllButton = header->addButton(QStringLiteral("Update All"), QStringLiteral("view-refresh"));
    QPushButton* import = header->addButton(QStringLiteral("Import…"), QStringLiteral("document-import"));
    QPushButton* add = header->addButton(QStringLiteral("Add File…"), QStringLiteral("document-open"));
    header->addFilter(QStringLiteral("Filter profiles"));
    layout->addWidget(header);

    m_view =
        header->addFilteredList(m_model, m_filter, QStringLiteral("Profiles"), ProfileListModel::NameColumn);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setItemDelegateForColumn(ProfileListModel::QuotaColumn, new QuotaDelegate(m_view));
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setSectionResizeMode(ProfileListModel::NameColumn, QHeaderView::Stretch);
    for (int column = ProfileListModel::TypeColumn; column < ProfileListModel::ColumnCount; ++column)
        m_view->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);

    auto* empty =
        new QLabel(QStringLiteral("No profiles yet — Import a subscription or add a local file."), this);
    empty->setAlignment(Qt::AlignCenter);
    empty->setWordWrap(true);
    auto* contentHost = new QWidget(this);
    m_content = new QStackedLayout(contentHost);
    m_content->addWidget(m_view);
    m_content->addWidget(empty);
    layout->addWidget(contentHost, 1);

    auto* buttons = new QHBoxLayout;
    const auto addButton = [&](const QString& text, auto slot) {
        auto* button = new QPushButton(text, this);
        button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        connect(button, &QPushButton::clicked, this, slot);
        buttons->addWidget(button);
        m_selectionButtons.append(button);
        return button;
    };
    addButton(QStringLiteral("&Activate"), &ProfilesPage::activateSelected);
    m_updateButton = addButton(QStringLiteral("&Update"), &ProfilesPage::updateSelected);
    addButton(QStringLiteral("Re&name…"), &ProfilesPage::renameSelected);
    addButton(QStringLiteral("&Edit in Text Editor"), [this] {
        if (const std::optional<ProfileNode> profile = selectedProfile())
            m_frontend.openFile(m_frontend.state().paths().profilesDirectory() + profile->fileName);
    });
    addButton(QStringLiteral("&Reveal in File Manager"), [this] {
        if (const std::optional<ProfileNode> profile = selectedProfile())
            m_frontend.revealFile(m_frontend.state().paths().profilesDirectory() + profile->fileName);
    });
    buttons->addStretch(1);
    addButton(QStringLiteral("&Delete…"), &ProfilesPage::deleteSelected);
    layout->addLayout(buttons);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setAccessibleName(QStringLiteral("Status"));
    layout->addWidget(m_status);

    connect(m_updateAllButton, &QPushButton::clicked, this, &ProfilesPage::updateAll);
    connect(import, &QPushButton::clicked, this, [this] { m_frontend.importSubscription(); });
    connect(add, &QPushButton::clicked, this, [this] { m_frontend.addLocalProfile(); });
    connect(m_view, &QTreeView::activated, this, &ProfilesPage::activateSelected);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ProfilesPage::selectionChanged);
    connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (!selectedProfile())
            return;
        QMenu menu;
        for (QPushButton* button : std::as_const(m_selectionButtons)) {
            if (button->isEnabled())
                menu.addAction(button->text(), button, &QPushButton::click);
        }
        menu.exec(m_view->viewport()->mapToGlobal(position));
    });
    auto* remove = new QShortcut(QKeySequence::Delete, m_view, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, &ProfilesPage::deleteSelected);
    auto* rename = new QShortcut(QKeySequence(Qt::Key_F2), m_view, nullptr, nullptr, Qt::WidgetShortcut);
    connect(rename, &QShortcut::activated, this, &ProfilesPage::renameSelected);
    auto* update = new QShortcut(QKeySequence::Refresh, this);
    connect(update, &QShortcut::activated, this, &ProfilesPage::updateSelected);

    AppState& state = m_frontend.state();
    connect(&state, &AppState::profileNodesChanged, this, &ProfilesPage::refresh);
    connect(&state, &AppState::activeProfileNameChanged, this, &ProfilesPage::refresh);
    connect(&state.subscriptions(), &SubscriptionManager::ledgerChanged, this, &ProfilesPage::refresh);
    refresh();
}

QString ProfilesPage::errorText() const
{
    return m_status->property("error").toString();
}

void ProfilesPage::refresh()
{
    const AppState& state = m_frontend.state();
    m_model->update(state.profileNodes(), state.subscriptions().ledger(), state.activeProfileName());
    m_content->setCurrentIndex(m_model->rowCount() == 0 ? 1 : 0);
    bool anyRemote = false;
    for (const ProfileNode& profile : state.profileNodes())
        anyRemote = anyRemote || profile.type == ProfileType::Remote;
    m_updateAllButton->setEnabled(anyRemote && !m_busy);
    // Something is always selected, so the buttons and the keyboard act at once.
    if (!m_view->selectionModel()->hasSelection() && m_filter->rowCount() > 0)
        m_view->setCurrentIndex(m_filter->index(0, 0));
    selectionChanged();
}

std::optional<ProfileNode> ProfilesPage::selectedProfile() const
{
    const QModelIndex current = m_view->currentIndex();
    if (!current.isValid() || !m_view->selectionModel()->isSelected(current))
        return std::nullopt;
    return m_model->profileAt(m_filter->mapToSource(current).row());
}

void ProfilesPage::selectionChanged()
{
    const std::optional<ProfileNode> profile = selectedProfile();
    for (QPushButton* button : std::as_const(m_selectionButtons))
        button->setEnabled(profile.has_value() && !m_busy);
    m_updateButton->setEnabled(profile && profile->type == ProfileType::Remote && !m_busy);
}

void ProfilesPage::setBusy(const QString& message)
{
    m_busy = true;
    m_status->setProperty("error", QString());
    m_status->setText(message);
    m_updateAllButton->setEnabled(false);
    selectionChanged();
}

void ProfilesPage::finish(const QString& error)
{
    m_busy = false;
    m_status->setProperty("error", error);
    m_status->setText(error.isEmpty() ? QString() : QStringLiteral("\u26A0 ") + error);
    refresh();
}

void ProfilesPage::activateSelected()
{
    if (const std::optional<ProfileNode> profile = selectedProfile())
        m_frontend.menuBar()->activateProfile(*profile);
}

void ProfilesPage::updateSelected()
{
    const std::optional<ProfileNode> profile = selectedProfile();
    if (!profile || profile->type != ProfileType::Remote || m_busy)
        return;
    updateTask(this, {*profile});
}

void ProfilesPage::updateAll()
{
    if (m_busy)
        return;
    QList<ProfileNode> remote;
    for (const ProfileNode& profile : m_frontend.state().profileNodes()) {
        if (profile.type == ProfileType::Remote)
            remote.append(profile);
    }
    if (!remote.isEmpty())
        updateTask(this, remote);
}

QCoro::Task<> ProfilesPage::updateTask(QPointer<ProfilesPage> self, QList<ProfileNode> profiles)
{
    QStringList failures;
    for (const ProfileNode& profile : profiles) {
        if (!self)
            co_return;
        self->setBusy(QStringLiteral("Updating %1…").arg(profile.name));
        try {
            co_await self->m_frontend.state().profiles().updateRemote(profile.id);
        } catch (const std::exception& error) {
            failures.append(profile.name + QStringLiteral(": ") + describe(error));
        }
    }
    if (!self)
        co_return;
    co_await self->m_frontend.state().reloadProfiles();
    if (self)
        self->finish(failures.join(QLatin1Char('\n')));
}

void ProfilesPage::renameSelected()
{
    const std::optional<ProfileNode> profile = selectedProfile();
    if (!profile || m_busy)
        return;
    bool accepted = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("Rename Profile"), QStringLiteral("Name:"),
                              QLineEdit::Normal, profile->name, &accepted)
            .trimmed();
    if (accepted && !name.isEmpty() && name != profile->name)
        renameTask(this, *profile, name);
}

QCoro::Task<> ProfilesPage::renameTask(QPointer<ProfilesPage> self, ProfileNode profile, QString name)
{
    self->setBusy(QStringLiteral("Renaming %1…").arg(profile.name));
    QString error;
    try {
        co_await self->m_frontend.state().profiles().rename(profile.id, name);
        if (!self)
            co_return;
        if (self->m_frontend.state().activeProfileName() == profile.name)
            self->m_frontend.state().setActiveProfileName(name);
        co_await self->m_frontend.state().reloadProfiles();
    } catch (const std::exception& failure) {
        error = describe(failure);
    }
    if (self)
        self->finish(error);
}

void ProfilesPage::deleteSelected()
{
    const std::optional<ProfileNode> profile = selectedProfile();
    if (!profile || m_busy)
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Delete Profile"),
                    QStringLiteral("Delete the profile \u201C%1\u201D?").arg(profile->name),
                    QMessageBox::NoButton, this);
    box.setInformativeText(
        QStringLiteral("Its file %1 is removed from the profiles folder.").arg(profile->fileName));
    QPushButton* remove = box.addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == remove)
        removeTask(this, *profile);
}

QCoro::Task<> ProfilesPage::removeTask(QPointer<ProfilesPage> self, ProfileNode profile)
{
    self->setBusy(QStringLiteral("Deleting %1…").arg(profile.name));
    QString error;
    try {
        co_await self->m_frontend.state().profiles().remove(profile.id);
        if (!self)
            co_return;
        if (self->m_frontend.state().activeProfileName() == profile.name)
            self->m_frontend.state().setActiveProfileName(std::nullopt);
        co_await self->m_frontend.state().reloadProfiles();
    } catch (const std::exception& failure) {
        error = describe(failure);
    }
    if (self)
        self->finish(error);
}

} // namespace tarnwick
