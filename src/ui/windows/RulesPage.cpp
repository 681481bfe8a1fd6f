#include "RulesPage.h"

#include "DesktopFrontend.h"
#include "PageHeader.h"
#include "RuleEditorDialog.h"
#include "app/AppError.h"
#include "app/AppState.h"
#include "app/RuleEditSession.h"
#include "config/RuleStore.h"
#include "controller/ProxyStore.h"
#include "history/FlowDatabase.h"
#include "platform/Error.h"
#include "ui/models/RuleListModel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QThreadPool>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnwick {

RulesPage::RulesPage(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend), m_session(new RuleEditSession(frontend.state(), this)),
      m_model(new RuleListModel(this)), m_filter(new QSortFilterProxyModel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Rules"), this);
    m_add = header->addButton(QStringLiteral("Add Rule…"), QStringLiteral("list-add"));
    header->addFilter(QStringLiteral("Filter rules"));
    layout->addWidget(header);

    m_view = header->addFilteredList(m_model, m_filter, QStringLiteral("Rules"));
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->header()->setStretchLastSection(false);
    for (int column = 0; column < RuleListModel::ColumnCount; ++column)
        m_view->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    m_view->header()->setSectionResizeMode(RuleListModel::PayloadColumn, QHeaderView::Stretch);
    layout->addWidget(m_view, 1);
    setFocusProxy(m_view);

    auto* buttons = new QHBoxLayout;
    const auto addButton = [&](const QString& text, auto slot) {
        auto* button = new QPushButton(text, this);
        button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        connect(button, &QPushButton::clicked, this, slot);
        buttons->addWidget(button);
        m_selectionButtons.append(button);
        return button;
    };
    addButton(QStringLiteral("&Edit…"), [this] {
        if (const std::optional<qsizetype> index = selectedIndex())
            openEditor(*index);
    });
    m_toggle = addButton(QStringLiteral("Disa&ble"), [this] {
        if (const std::optional<qsizetype> index = selectedIndex())
            toggleRule(*index);
    });
    m_up = addButton(QStringLiteral("Move &Up"), [this] {
        if (const std::optional<qsizetype> index = selectedIndex())
            moveRule(*index, -1);
    });
    m_down = addButton(QStringLiteral("Move &Down"), [this] {
        if (const std::optional<qsizetype> index = selectedIndex())
            moveRule(*index, 1);
    });
    buttons->addStretch(1);
    addButton(QStringLiteral("De&lete…"), &RulesPage::deleteSelected);
    layout->addLayout(buttons);

    auto* statusRow = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setAccessibleName(QStringLiteral("Status"));
    statusRow->addWidget(m_status, 1);
    m_undo = new QPushButton(QStringLiteral("&Undo"), this);
    m_undo->setAccessibleName(QStringLiteral("Undo"));
    m_undo->setToolTip(QStringLiteral("Put the profile file back as it was before the last edit"));
    m_undo->hide();
    statusRow->addWidget(m_undo);
    layout->addLayout(statusRow);

    connect(m_add, &QPushButton::clicked, this, [this] { openEditor(std::nullopt); });
    connect(m_undo, &QPushButton::clicked, this, [this] { undo(); });
    connect(m_view, &QTreeView::activated, this, [this] {
        if (const std::optional<qsizetype> index = selectedIndex())
            openEditor(*index);
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RulesPage::selectionChanged);
    connect(m_model, &RuleListModel::toggleRequested, this, [this](qsizetype index) { toggleRule(index); });
    connect(m_session, &RuleEditSession::undoChanged, this,
            [this] { m_undo->setVisible(m_session->canUndo()); });

    const auto shortcut = [this](const QKeySequence& keys, QWidget* scope, Qt::ShortcutContext context,
                                 auto slot) {
        auto* made = new QShortcut(keys, scope, nullptr, nullptr, context);
        connect(made, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence::New, this, Qt::WindowShortcut, [this] { openEditor(std::nullopt); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this, Qt::WindowShortcut, [this] {
        if (const std::optional<qsizetype> index = selectedIndex())
            openEditor(*index);
    });
    shortcut(QKeySequence::Delete, m_view, Qt::WidgetShortcut, [this] { deleteSelected(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Up), m_view, Qt::WidgetShortcut, [this] { m_up->click(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Down), m_view, Qt::WidgetShortcut, [this] { m_down->click(); });
    shortcut(QKeySequence::Undo, this, Qt::WindowShortcut, [this] {
        if (m_session->canUndo())
            undo();
    });

    AppState& state = m_frontend.state();
    connect(&state, &AppState::activeProfileNameChanged, this, &RulesPage::refresh);
    connect(&state, &AppState::profileNodesChanged, this, &RulesPage::refresh);
    // Queued, so the window has come forward before the editor opens over it.
    connect(&state, &AppState::browserRuleEditorModeChanged, this, &RulesPage::openRequestedEditor,
            Qt::QueuedConnection);
    connect(this, &RulesPage::editFinished, this, &RulesPage::openRequestedEditor, Qt::QueuedConnection);
    refresh();
    QMetaObject::invokeMethod(this, &RulesPage::openRequestedEditor, Qt::QueuedConnection);
}

RulesPage::~RulesPage() = default;

QString RulesPage::statusText() const
{
    return m_status->text();
}

RuleEditorDialog* RulesPage::editor() const
{
    return m_editor;
}

bool RulesPage::undoOffered() const
{
    return m_session->canUndo() && m_undo->isVisibleTo(this);
}

void RulesPage::setStatus(const QString& text)
{
    m_status->setText(text);
}

void RulesPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void RulesPage::refresh()
{
    const std::optional<qsizetype> selected = selectedIndex();
    try {
        const QString file = m_session->profileFile();
        m_model->setEntries(RuleStore::listRules(file));
        if (m_model->entries().isEmpty() && !m_busy && statusText().isEmpty())
            setStatus(QStringLiteral("No rules yet — Add Rule… puts the first one into the profile."));
    } catch (const std::exception& error) {
        m_model->setEntries({});
        if (!m_busy)
            setStatus(describe(error));
    }
    if (selected)
        select(*selected);
    else if (!m_model->entries().isEmpty())
        select(m_model->entries().first().index);
    selectionChanged();
    loadHits();
}

void RulesPage::loadHits()
{
    FlowDatabase* db = m_frontend.state().history().flowDatabase();
    if (!db || m_loadingHits)
        return;
    m_loadingHits = true;
    const std::optional<QString> profile = m_frontend.state().activeProfileName();
    QPointer<RulesPage> self(this);
    QThreadPool::globalInstance()->start(
        [db, profile, self] {
            QHash<QString, int> hits;
            for (const RuleHits& row : db->ruleHitCounts(profile))
                hits[RuleListModel::hitKey(row.rule, row.payload)] += row.count;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, hits] {
                    if (!self)
                        return;
                    self->m_loadingHits = false;
                    self->m_model->setHits(hits);
                    emit self->hitsLoaded();
                },
                Qt::QueuedConnection);
        },
        QThread::LowPriority);
}

std::optional<qsizetype> RulesPage::selectedIndex() const
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const int row = m_filter->mapToSource(rows.first()).row();
    return row < m_model->entries().size() ? std::optional(m_model->entries()[row].index) : std::nullopt;
}

void RulesPage::select(qsizetype index)
{
    const QList<RuleEntry>& entries = m_model->entries();
    for (int row = 0; row < entries.size(); ++row) {
        if (entries[row].index != index)
            continue;
        const QModelIndex at = m_filter->mapFromSource(m_model->index(row, 0));
        m_view->setCurrentIndex(at);
        m_view->scrollTo(at);
        return;
    }
}

void RulesPage::selectionChanged()
{
    const std::optional<qsizetype> index = selectedIndex();
    for (QPushButton* button : std::as_const(m_selectionButtons))
        button->setEnabled(index && !m_busy);
    m_add->setEnabled(!m_busy);
    m_undo->setEnabled(!m_busy);
    if (!index)
        return;
    const qsizetype count = m_model->entries().size();
    m_up->setEnabled(!m_busy && *index > 0);
    m_down->setEnabled(!m_busy && *index + 1 < count);
    bool enabled = true;
    for (const RuleEntry& entry : m_model->entries())
        if (entry.index == *index)
            enabled = entry.enabled;
    m_toggle->setText(enabled ? QStringLiteral("Disa&ble") : QStringLiteral("Ena&ble"));
    m_toggle->setAccessibleName(enabled ? QStringLiteral("Disable") : QStringLiteral("Enable"));
}

QStringList RulesPage::policies() const
{
    QStringList names;
    for (const ProxyGroup& group : m_frontend.state().proxyStore().groups()) {
        names.append(group.name);
        for (const ProxyNode& node : group.proxies)
            names.append(node.name);
    }
    names.append({QStringLiteral("DIRECT"), QStringLiteral("REJECT"), QStringLiteral("REJECT-DROP"),
                  QStringLiteral("PASS")});
    names.removeDuplicates();
    return names;
}

QCoro::Task<> RulesPage::insertRule(QString text, qsizetype at)
{
    return editTask(
        this, [text, at](const QString& file) { RuleStore::insertRule(text, at, file); },
        QStringLiteral("Rule added."), at);
}

QCoro::Task<> RulesPage::updateRule(qsizetype index, QString text)
{
    return editTask(
        this, [text, index](const QString& file) { RuleStore::updateRule(index, text, file); },
        QStringLiteral("Rule saved."), index);
}

QCoro::Task<> RulesPage::deleteRule(qsizetype index)
{
    return editTask(
        this, [index](const QString& file) { RuleStore::deleteRule(index, file); },
        QStringLiteral("Rule deleted."), std::min<qsizetype>(index, m_model->entries().size() - 2));
}

QCoro::Task<> RulesPage::toggleRule(qsizetype index)
{
    bool enabled = true;
    for (const RuleEntry& entry : m_model->entries())
        if (entry.index == index)
            enabled = entry.enabled;
    return editTask(
        this, [index](const QString& file) { RuleStore::toggleRule(index, file); },
        enabled ? QStringLiteral("Rule disabled.") : QStringLiteral("Rule enabled."), index);
}

QCoro::Task<> RulesPage::moveRule(qsizetype index, int offset)
{
    const qsizetype target = index + offset;
    return editTask(
        this, [index, target](const QString& file) { RuleStore::swapRules(index, target, file); },
        QStringLiteral("Rule moved."), target);
}

QCoro::Task<> RulesPage::undo()
{
    return undoTask(this);
}

QCoro::Task<> RulesPage::editTask(QPointer<RulesPage> self, std::function<void(const QString&)> edit,
                                  QString done, std::optional<qsizetype> selectAfter)
{
    if (!self || self->m_busy)
        co_return;
    const bool running = self->m_frontend.state().kernelStatus().isRunningOrStarting();
    self->m_busy = true;
    self->setStatus(running ? QStringLiteral("Saving; the kernel reloads the rules…")
                            : QStringLiteral("Saving…"));
    self->selectionChanged();
    RuleEditSession* session = self->m_session;
    QString outcome;
    try {
        co_await session->apply(std::move(edit));
        outcome = running ? done + QStringLiteral(" The kernel reloaded the rules.") : done;
    } catch (const std::exception& error) {
        // In the words the alerts use: the kernel's own message without its log decoration.
        outcome = AppError::cleanMessage(AppError::from(error, false).message());
    }
    if (!self)
        co_return;
    self->m_busy = false;
    self->refresh();
    if (selectAfter && *selectAfter >= 0)
        self->select(*selectAfter);
    self->setStatus(outcome);
    self->selectionChanged();
    emit self->editFinished();
}

QCoro::Task<> RulesPage::undoTask(QPointer<RulesPage> self)
{
    if (!self || self->m_busy)
        co_return;
    self->m_busy = true;
    self->selectionChanged();
    RuleEditSession* session = self->m_session;
    QString outcome = QStringLiteral("Undone: the profile is as it was before the last edit.");
    try {
        co_await session->undo();
    } catch (const std::exception& error) {
        outcome = describe(error);
    }
    if (!self)
        co_return;
    self->m_busy = false;
    self->refresh();
    self->setStatus(outcome);
    self->selectionChanged();
    emit self->editFinished();
}

void RulesPage::openEditor(std::optional<qsizetype> index)
{
    if (m_editor || m_busy)
        return;
    auto* dialog = new RuleEditorDialog(policies(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (index) {
        for (const RuleEntry& entry : m_model->entries())
            if (entry.index == *index)
                dialog->setRule(entry.text);
        dialog->setWindowTitle(QStringLiteral("Edit Rule %1").arg(*index));
    } else {
        dialog->setWindowTitle(QStringLiteral("Add Rule"));
    }
    const std::optional<qsizetype> selected = selectedIndex();
    const qsizetype insertAt = selected ? *selected + 1 : m_model->entries().size();
    connect(dialog, &QDialog::accepted, this, [this, dialog, index, insertAt] {
        if (index)
            updateRule(*index, dialog->ruleText());
        else
            insertRule(dialog->ruleText(), insertAt);
    });
    connect(dialog, &QDialog::finished, this, &RulesPage::openRequestedEditor, Qt::QueuedConnection);
    m_editor = dialog;
    dialog->open();
}

void RulesPage::openRequestedEditor()
{
    AppState& state = m_frontend.state();
    const std::optional<RuleEditorMode>& mode = state.browserRuleEditorMode();
    if (!mode || mode->kind != RuleEditorMode::Kind::createPrefill || !mode->prefill || m_editor || m_busy)
        return;
    const RulePrefill prefill = *mode->prefill;
    state.setBrowserRuleEditorMode(std::nullopt);
    openEditor(std::nullopt);
    if (!m_editor)
        return;
    m_editor->type().setCurrentText(rawValue(prefill.ruleType));
    m_editor->payload().setText(prefill.value);
    m_editor->setWindowTitle(QStringLiteral("Add Rule for %1").arg(prefill.value));
}

void RulesPage::deleteSelected()
{
    const std::optional<qsizetype> index = selectedIndex();
    if (!index || m_busy)
        return;
    QString text;
    for (const RuleEntry& entry : m_model->entries())
        if (entry.index == *index)
            text = entry.text;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Delete Rule"),
                    QStringLiteral("Delete the rule “%1” from the profile?").arg(text), QMessageBox::NoButton,
                    this);
    QPushButton* remove = box.addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == remove)
        deleteRule(*index);
}

} // namespace tarnwick
