#include "MenuBarManager.h"

#include "ShellExport.h"
#include "WebpageCapture.h"
#include "app/AppState.h"
#include "controller/RateFormatter.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "platform/Settings.h"
#include "ui/windows/DesktopFrontend.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPalette>

namespace tarnwick {

namespace {

// Runs one of AppState's flows to its end; they report their own failures, anything else is printed.
QCoro::Task<> runFlow(QCoro::Task<> flow, QString failure)
{
    try {
        co_await flow;
    } catch (const std::exception& error) {
        printDiagnostic(QStringLiteral("[Tarnwick] ") + failure + describe(error));
    }
}

} // namespace

MenuBarManager::MenuBarManager(AppState& state, DesktopFrontend& frontend, QObject* parent)
    : QObject(parent), m_state(state), m_frontend(frontend), m_menu(std::make_unique<QMenu>()),
      m_renderer(QApplication::palette().color(QPalette::WindowText)), m_browsers(BrowserAutomation::create())
{
    m_iconMode = menuBarIconModeFromRaw(m_state.settings().text(menuBarIconModeKey, {}))
                     .value_or(MenuBarIconMode::iconAndSpeed);
    m_tray.setContextMenu(m_menu.get());
    m_tray.setToolTip(QStringLiteral("Tarnwick"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &MenuBarManager::rebuildMenu);
    connect(&m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            openWindow();
    });
    connect(&m_state, &AppState::kernelStatusChanged, this, &MenuBarManager::kernelStatusChanged);
    TrafficStore& traffic = m_state.trafficStore();
    connect(&traffic, &TrafficStore::ratesChanged, this, [this, &traffic] {
        m_upload = traffic.currentUpload();
        m_download = traffic.currentDownload();
        updateIcon();
    });
    connect(&m_state.wifiSuspension(), &WifiSuspension::suspensionChanged, this, &MenuBarManager::updateIcon);
    qApp->installEventFilter(this);
    rebuildMenu();
    updateIcon();
    m_tray.show();
    refreshHelper(this);
}

MenuBarManager::~MenuBarManager() = default;

bool MenuBarManager::eventFilter(QObject* watched, QEvent* event)
{
    // A new desktop palette (light to dark): the icon follows the panel's text colour.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        m_renderer.setTint(QApplication::palette().color(QPalette::WindowText));
        updateIcon();
    }
    return QObject::eventFilter(watched, event);
}

bool MenuBarManager::isTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

MenuBarSnapshot MenuBarManager::snapshot() const
{
    MenuBarSnapshot snapshot;
    snapshot.kernelStatus = m_state.kernelStatus();
    snapshot.kernelVersion = m_state.mihomoVersion();
    snapshot.systemProxyEnabled = m_state.systemProxyEnabled();
    snapshot.tunEnabled = m_state.tunEnabled();
    snapshot.profiles = m_state.profileNodes();
    snapshot.activeProfileName = m_state.activeProfileName();
    snapshot.helperStatus = m_helperStatus;
    snapshot.helperVersion = m_helperVersion;
    snapshot.iconMode = m_iconMode;
    // Mode and groups only while the kernel runs: the store keeps the last ones, which a stopped kernel
    // cannot act on.
    if (snapshot.kernelStatus.kind != KernelStatus::Kind::running)
        return snapshot;
    const ProxyStore& store = m_state.proxyStore();
    snapshot.mode = store.mode();
    const QHash<QString, qint64>& delays = store.delayMap();
    for (const ProxyGroup& group : store.groups()) {
        if (group.isHidden && !store.showHiddenGroups())
            continue;
        MenuBarSnapshot::Group entry{group.name,
                                     rawValue(group.type),
                                     group.selectedProxyName.value_or(QString()),
                                     isSelectable(group.type),
                                     store.testingGroups().contains(group.name),
                                     {}};
        entry.members.reserve(group.proxies.size());
        for (const ProxyNode& node : group.proxies) {
            const auto delay = delays.constFind(node.name);
            entry.members.append({node.name, delay != delays.cend() ? std::optional(*delay) : node.delay});
        }
        snapshot.groups.append(std::move(entry));
    }
    return snapshot;
}

void MenuBarManager::rebuildMenu()
{
    MenuBarBuilder::build(*m_menu, snapshot(), *this);
}

void MenuBarManager::updateIcon()
{
    const bool running = m_state.kernelStatus().kind == KernelStatus::Kind::running;
    const QImage image =
        m_renderer.render(running, m_state.isSuspendedBySSID(), m_upload, m_download, m_iconMode);
    if (image.cacheKey() != m_iconKey) {
        m_iconKey = image.cacheKey();
        m_tray.setIcon(QIcon(QPixmap::fromImage(image)));
    }
    // Trays that give the icon a square slot shrink the rates: the tooltip says them in full.
    QString tip = QStringLiteral("Tarnwick — Kernel ") + MenuBarBuilder::statusWord(m_state.kernelStatus());
    if (running)
        tip += QStringLiteral("\n\u2191 ") + RateFormatter::rate(m_upload) + QStringLiteral("   \u2193 ") +
               RateFormatter::rate(m_download);
    if (tip != m_tray.toolTip())
        m_tray.setToolTip(tip);
}

void MenuBarManager::kernelStatusChanged()
{
    if (!m_state.kernelStatus().isRunningOrStarting())
        m_upload = m_download = 0;
    updateIcon();
    refreshHelper(this);
}

std::optional<ProfileNode> MenuBarManager::activeProfile() const
{
    const std::optional<QString>& name = m_state.activeProfileName();
    if (!name)
        return std::nullopt;
    for (const ProfileNode& node : m_state.profileNodes()) {
        if (node.name == *name)
            return node;
    }
    return std::nullopt;
}

QCoro::Task<> MenuBarManager::refreshHelper(QPointer<MenuBarManager> self)
{
    try {
        const HelperStatus status = co_await self->m_state.helper().checkStatus();
        if (!self)
            co_return;
        self->m_helperStatus = status;
        if (status != HelperStatus::ok)
            co_return;
        const QString version = co_await self->m_state.helper().getVersion();
        if (self)
            self->m_helperVersion = version;
    } catch (const std::exception& error) {
        if (self)
            self->m_helperStatus = HelperStatus::unreachable;
        qCWarning(lcAppState, "Helper check failed: %s", qUtf8Printable(describe(error)));
    }
}

void MenuBarManager::startKernel()
{
    m_state.setKernelIntentionallyStopped(false);
    runFlow(m_state.startKernel(), QStringLiteral("Failed to start kernel: "));
}

void MenuBarManager::stopKernel()
{
    runFlow(m_state.stopKernel(), QStringLiteral("Failed to stop kernel: "));
}

void MenuBarManager::restartKernel()
{
    runFlow(m_state.restartKernel(), QStringLiteral("Failed to restart kernel: "));
}

void MenuBarManager::setMode(OutboundMode mode)
{
    applyMode(this, mode);
}

QCoro::Task<> MenuBarManager::applyMode(QPointer<MenuBarManager> self, OutboundMode mode)
{
    try {
        co_await self->m_state.proxyStore().setMode(mode);
    } catch (const std::exception& error) {
        printDiagnostic(QStringLiteral("[Tarnwick] Failed to set mode: ") + describe(error));
    }
}

void MenuBarManager::setSystemProxy(bool enabled)
{
    runFlow(m_state.setSystemProxy(enabled), QStringLiteral("Failed to toggle system proxy: "));
}

void MenuBarManager::setTun(bool enabled)
{
    runFlow(m_state.setTunMode(enabled), QStringLiteral("Failed to toggle TUN: "));
}

void MenuBarManager::activateProfile(const ProfileNode& profile)
{
    if (m_state.kernelStatus().isRunningOrStarting()) {
        runFlow(m_state.switchProfile(profile), QStringLiteral("Failed to switch profile: "));
        return;
    }
    // A stopped kernel stays stopped; the profile is used by the next start.
    m_state.setActiveProfileName(profile.name);
}

void MenuBarManager::importSubscription()
{
    m_frontend.importSubscription();
}

void MenuBarManager::addLocalProfile()
{
    m_frontend.addLocalProfile();
}

void MenuBarManager::editActiveProfile()
{
    if (const std::optional<ProfileNode> profile = activeProfile())
        m_frontend.openFile(m_state.paths().profilesDirectory() + profile->fileName);
}

void MenuBarManager::revealActiveProfile()
{
    if (const std::optional<ProfileNode> profile = activeProfile())
        m_frontend.revealFile(m_state.paths().profilesDirectory() + profile->fileName);
}

void MenuBarManager::selectProxy(const QString& group, const QString& member)
{
    selectProxyTask(this, group, member);
}

QCoro::Task<> MenuBarManager::selectProxyTask(QPointer<MenuBarManager> self, QString group, QString member)
{
    try {
        co_await self->m_state.proxyStore().selectProxy(group, member);
    } catch (const std::exception& error) {
        printDiagnostic(QStringLiteral("[Tarnwick] Failed to select proxy: ") + describe(error));
    }
}

void MenuBarManager::testLatency(const QString& group)
{
    testLatencyTask(this, group);
}

QCoro::Task<> MenuBarManager::testLatencyTask(QPointer<MenuBarManager> self, QString group)
{
    try {
        co_await self->m_state.proxyStore().testGroupDelay(group);
    } catch (const std::exception& error) {
        printDiagnostic(QStringLiteral("[Tarnwick] Failed to test latency: ") + describe(error));
    }
}

void MenuBarManager::installHelper()
{
    installHelperTask(this);
}

QCoro::Task<> MenuBarManager::installHelperTask(QPointer<MenuBarManager> self)
{
    try {
        co_await self->m_state.helper().registerHelper();
        if (self)
            co_await refreshHelper(self);
    } catch (const std::exception& error) {
        printDiagnostic(QStringLiteral("[Tarnwick] Failed to install helper: ") + describe(error));
    }
}

void MenuBarManager::setIconMode(MenuBarIconMode mode)
{
    m_iconMode = mode;
    m_state.settings().setText(menuBarIconModeKey, rawValue(mode));
    updateIcon();
}

void MenuBarManager::addRuleForWebpage()
{
    const WebpageCapture::Result result = WebpageCapture::capture(*m_browsers);
    if (!result.host) {
        printDiagnostic(QStringLiteral("[Tarnwick] No rule for the current webpage: ") + result.problem);
        if (isTrayAvailable())
            m_tray.showMessage(QStringLiteral("Add Rule for Current Webpage"), result.problem);
        Q_EMIT webpageCaptureFailed(result.problem);
        return;
    }
    m_state.setBrowserRuleEditorMode(
        RuleEditorMode::createPrefill({MihomoRuleType::domainSuffix, *result.host}));
    m_frontend.openMainWindow(QStringLiteral("rules"));
}

void MenuBarManager::copyShellExport()
{
    copyShellExportTask(this);
}

QCoro::Task<> MenuBarManager::copyShellExportTask(QPointer<MenuBarManager> self)
{
    try {
        const QString text = co_await ShellExport::build(self->m_state.client());
        if (!self)
            co_return;
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
        Q_EMIT self->shellExportCopied(text);
    } catch (const std::exception& error) {
        printDiagnostic(QStringLiteral("[Tarnwick] Failed to copy shell export: ") + describe(error));
    }
}

void MenuBarManager::openWindow()
{
    m_frontend.openMainWindow();
}

void MenuBarManager::quit()
{
    m_frontend.quit();
}

} // namespace tarnwick
