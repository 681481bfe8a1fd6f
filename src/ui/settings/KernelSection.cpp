#include "KernelSection.h"

#include "app/AppState.h"
#include "platform/Error.h"
#include "runtime/RuntimeManager.h"
#include "ui/windows/DesktopFrontend.h"
#include "ui/windows/KernelDownloadWindow.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

// `active` names the kernel core/current points at, for a ready state that knows only that there is one.
QString stateText(const RuntimeState& state, const std::optional<QString>& active)
{
    using Kind = RuntimeState::Kind;
    switch (state.kind) {
    case Kind::checking:
        return QStringLiteral("Looking for the newest release…");
    case Kind::downloading:
        return QStringLiteral("Downloading… %1 %").arg(int(state.progress * 100));
    case Kind::installing:
        return QStringLiteral("Installing…");
    case Kind::validating:
        return QStringLiteral("Checking the kernel…");
    case Kind::switching:
        return QStringLiteral("Activating…");
    case Kind::ready:
        if (state.version != QLatin1String("Installed"))
            return QStringLiteral("Kernel %1 is installed.").arg(state.version);
        return active ? QStringLiteral("Kernel %1 is installed.").arg(*active)
                      : QStringLiteral("A kernel is installed.");
    case Kind::missing:
        return QStringLiteral("No kernel installed.");
    case Kind::failed:
        return state.error ? state.error->description() : QStringLiteral("The installation failed.");
    }
    return {};
}

bool isBusy(const RuntimeState& state)
{
    using Kind = RuntimeState::Kind;
    return state.kind != Kind::ready && state.kind != Kind::failed && state.kind != Kind::missing;
}

QLabel* wrappingLabel(QWidget* parent, const QString& accessibleName)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(accessibleName);
    return label;
}

} // namespace

KernelSection::KernelSection(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend)
{
    AppState& state = m_frontend.state();
    RuntimeManager& runtime = state.runtimeManager();
    auto* layout = new QVBoxLayout(this);

    auto* current = new QGroupBox(QStringLiteral("Kernel"), this);
    auto* form = new QFormLayout(current);
    m_running = wrappingLabel(current, QStringLiteral("Running kernel"));
    form->addRow(QStringLiteral("Running"), m_running);
    m_channel = new QComboBox(current);
    m_channel->setAccessibleName(QStringLiteral("Channel"));
    for (const RuntimeChannel channel : allRuntimeChannels)
        m_channel->addItem(KernelDownloadWindow::channelTitle(channel), rawValue(channel));
    form->addRow(QStringLiteral("Channel"), m_channel);
    auto* buttons = new QHBoxLayout;
    m_check = new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh")),
                              QStringLiteral("Check for Updates"), current);
    m_check->setAccessibleName(QStringLiteral("Check for Updates"));
    m_upgrade = new QPushButton(QIcon::fromTheme(QStringLiteral("download")),
                                QStringLiteral("Install Newest"), current);
    m_upgrade->setAccessibleName(QStringLiteral("Install Newest"));
    buttons->addWidget(m_check);
    buttons->addWidget(m_upgrade);
    buttons->addStretch(1);
    form->addRow(QString(), buttons);
    m_update = wrappingLabel(current, QStringLiteral("Update"));
    form->addRow(QString(), m_update);
    m_progress = new QProgressBar(current);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    form->addRow(QString(), m_progress);
    m_status = wrappingLabel(current, QStringLiteral("Status"));
    form->addRow(QString(), m_status);
    layout->addWidget(current);

    auto* installed = new QGroupBox(QStringLiteral("Installed Versions"), this);
    auto* list = new QVBoxLayout(installed);
    m_versions = new QListWidget(installed);
    m_versions->setAccessibleName(QStringLiteral("Installed versions"));
    list->addWidget(m_versions);
    auto* rollbackRow = new QHBoxLayout;
    m_rollback = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-undo")),
                                 QStringLiteral("Rollback Version"), installed);
    m_rollback->setAccessibleName(QStringLiteral("Rollback Version"));
    rollbackRow->addWidget(m_rollback);
    rollbackRow->addStretch(1);
    list->addLayout(rollbackRow);
    m_error = wrappingLabel(installed, QStringLiteral("Error"));
    m_error->hide();
    list->addWidget(m_error);
    layout->addWidget(installed, 1);

    connect(m_channel, &QComboBox::activated, this, [this] {
        if (const std::optional<RuntimeChannel> channel =
                runtimeChannelFromRawValue(m_channel->currentData().toString()))
            m_frontend.state().runtimeManager().setCurrentChannel(*channel);
        m_checked = false;
        refreshUpdate();
    });
    connect(m_check, &QPushButton::clicked, this, &KernelSection::checkForUpdates);
    connect(m_upgrade, &QPushButton::clicked, this, &KernelSection::upgrade);
    connect(m_rollback, &QPushButton::clicked, this, &KernelSection::rollback);
    // Only the controls: rebuilding the list here would delete the items whose selection is changing.
    connect(m_versions, &QListWidget::currentRowChanged, this, &KernelSection::updateControls);
    connect(&runtime, &RuntimeManager::stateChanged, this, &KernelSection::runtimeChanged);
    connect(&runtime, &RuntimeManager::isPendingRestartChanged, this, &KernelSection::runtimeChanged);
    connect(&runtime, &RuntimeManager::currentChannelChanged, this, &KernelSection::runtimeChanged);
    connect(&runtime, &RuntimeManager::hasUpdateAvailableChanged, this, &KernelSection::refreshUpdate);
    connect(&runtime, &RuntimeManager::latestRemoteVersionChanged, this, &KernelSection::refreshUpdate);
    connect(&state, &AppState::mihomoVersionChanged, this, &KernelSection::runtimeChanged);
    connect(&state, &AppState::kernelStatusChanged, this, &KernelSection::runtimeChanged);
    refreshVersions();
    runtimeChanged();
}

QString KernelSection::statusText() const
{
    return m_status->text();
}

QString KernelSection::updateText() const
{
    return m_update->text();
}

QString KernelSection::errorText() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

void KernelSection::runtimeChanged()
{
    const RuntimeState::Kind kind = m_frontend.state().runtimeManager().state().kind;
    if (kind == RuntimeState::Kind::ready || kind == RuntimeState::Kind::missing)
        refreshVersions();
    updateControls();
}

void KernelSection::updateControls()
{
    AppState& state = m_frontend.state();
    RuntimeManager& runtime = state.runtimeManager();
    const RuntimeState& runtimeState = runtime.state();
    const bool busy = isBusy(runtimeState);

    m_running->setText(state.mihomoVersion() ? *state.mihomoVersion()
                       : state.kernelStatus().kind == KernelStatus::Kind::starting
                           ? QStringLiteral("Starting…")
                           : QStringLiteral("Not running"));
    m_channel->setCurrentIndex(m_channel->findData(rawValue(runtime.currentChannel())));
    m_channel->setEnabled(!busy);
    m_check->setEnabled(!busy && !m_checking);
    m_upgrade->setEnabled(!busy);
    m_progress->setRange(0, runtimeState.kind == RuntimeState::Kind::downloading || !busy ? 1000 : 0);
    m_progress->setValue(
        runtimeState.kind == RuntimeState::Kind::downloading ? int(runtimeState.progress * 1000) : 0);
    m_progress->setVisible(busy);
    QString status = stateText(runtimeState, runtime.activeVersion());
    if (runtimeState.kind == RuntimeState::Kind::ready && runtime.keptLocalBecause())
        status += QStringLiteral(" The newest release was not installed: %1")
                      .arg(runtime.keptLocalBecause()->description());
    if (runtime.isPendingRestart())
        status += QStringLiteral(" The kernel restarts on it now…");
    m_status->setText(status);
    const QListWidgetItem* selected = m_versions->currentItem();
    m_rollback->setEnabled(!busy && selected && selected->data(Qt::UserRole + 1).toBool() == false);
    refreshUpdate();
}

void KernelSection::refreshVersions()
{
    RuntimeManager& runtime = m_frontend.state().runtimeManager();
    const QStringList versions = runtime.fetchLocalVersions();
    const std::optional<QString> active = runtime.activeVersion();
    const QString selected =
        m_versions->currentItem() ? m_versions->currentItem()->data(Qt::UserRole).toString() : QString();
    const QSignalBlocker blocker(m_versions);
    m_versions->clear();
    for (const QString& version : versions) {
        const bool isActive = active == version;
        auto* item = new QListWidgetItem(QStringLiteral("%1  ·  %2%3")
                                             .arg(version, rawValue(RuntimeManager::inferChannel(version)),
                                                  isActive ? QStringLiteral("  ·  active") : QString()),
                                         m_versions);
        item->setData(Qt::UserRole, version);
        item->setData(Qt::UserRole + 1, isActive);
        if (isActive) {
            item->setIcon(QIcon::fromTheme(QStringLiteral("emblem-default")));
            QFont bold = item->font();
            bold.setBold(true);
            item->setFont(bold);
        }
        if (version == selected)
            m_versions->setCurrentItem(item);
    }
    if (versions.isEmpty())
        new QListWidgetItem(QStringLiteral("No kernel installed yet — Install Newest downloads one."),
                            m_versions);
}

void KernelSection::refreshUpdate()
{
    const RuntimeManager& runtime = m_frontend.state().runtimeManager();
    const bool missing = runtime.state().kind == RuntimeState::Kind::missing;
    if (runtime.hasUpdateAvailable() && runtime.latestRemoteVersion()) {
        m_update->setText(QStringLiteral("Version %1 is available.").arg(*runtime.latestRemoteVersion()));
        m_upgrade->setText(QStringLiteral("Install %1").arg(*runtime.latestRemoteVersion()));
    } else {
        m_update->setText(
            m_checking                                   ? QStringLiteral("Checking…")
            : m_checked && runtime.latestRemoteVersion() ? QStringLiteral("The kernel is up to date.")
            : m_checked ? QStringLiteral("No release was found; the application's log says why.")
                        : QString());
        m_upgrade->setText(missing ? QStringLiteral("Download") : QStringLiteral("Install Newest"));
    }
    m_update->setVisible(!m_update->text().isEmpty());
}

void KernelSection::checkForUpdates()
{
    if (m_checking)
        return;
    checkTask(this);
}

QCoro::Task<> KernelSection::checkTask(QPointer<KernelSection> self)
{
    self->m_checking = true;
    self->runtimeChanged();
    try {
        AppState& state = self->m_frontend.state();
        RuntimeManager& runtime = state.runtimeManager();
        // The running kernel's version, else the installed one's. Named: GCC 12 destroys the temporary of
        // a conditional inside a co_await expression twice.
        const std::optional<QString> version =
            state.mihomoVersion() ? state.mihomoVersion() : runtime.activeVersion();
        co_await runtime.checkForUpdates(version);
    } catch (const std::exception& error) {
        // The check logs its own failures; nothing reaches here but a programming error.
        qWarning("Kernel update check: %s", qUtf8Printable(describe(error)));
    }
    if (!self)
        co_return;
    self->m_checking = false;
    self->m_checked = true;
    self->runtimeChanged();
}

void KernelSection::upgrade()
{
    RuntimeManager& runtime = m_frontend.state().runtimeManager();
    if (isBusy(runtime.state()))
        return;
    m_error->hide();
    runtime.installOrUpdate(runtime.currentChannel());
}

void KernelSection::rollback()
{
    const QListWidgetItem* item = m_versions->currentItem();
    if (!item || item->data(Qt::UserRole).toString().isEmpty())
        return;
    m_error->hide();
    rollbackTask(this, item->data(Qt::UserRole).toString());
}

QCoro::Task<> KernelSection::rollbackTask(QPointer<KernelSection> self, QString version)
{
    try {
        co_await self->m_frontend.state().runtimeManager().switchToLocalVersion(version);
    } catch (const std::exception& error) {
        if (self) {
            self->m_error->setText(describe(error));
            self->m_error->show();
        }
    }
}

} // namespace tarnwick
