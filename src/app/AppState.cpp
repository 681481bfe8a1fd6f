#include "AppState.h"

#include "ConfigValidationError.h"
#include "HelperClient.h"
#include "config/ConfigCompiler.h"
#include "config/EngineSettings.h"
#include "config/ProfileStore.h"
#include "config/SubscriptionManager.h"
#include "config/UserAgentHelper.h"
#include "history/FlowDatabase.h"
#include "network/NetworkEnvironmentMonitor.h"
#include "network/WifiNameSource.h"
#include "platform/Logging.h"
#include "platform/NetworkServices.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

const QString kHasCompletedOnboarding = QStringLiteral("hasCompletedOnboarding");
const QString kActiveProfileName = QStringLiteral("activeProfileName");
const QString kSystemProxyEnabled = QStringLiteral("systemProxyEnabled");
const QString kTunEnabled = QStringLiteral("tunEnabled");
const QString kIntentionallyStopped = QStringLiteral("isKernelIntentionallyStopped");
const QString kGlobalUA = QStringLiteral("globalUA");

// Resident memory of this process, from /proc/self/statm.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

// The live settings the readiness sequence pushes into the kernel.
ConfigPatch livePatch(const Settings& settings)
{
    ConfigPatch patch;
    const qint64 mixed = settings.integer(QStringLiteral("mixedPort"), 0);
    patch.mixedPort = static_cast<int>(mixed == 0 ? EngineSettings::defaultMixedPort : mixed);
    patch.port = static_cast<int>(settings.integer(QStringLiteral("httpPort"), 0));
    patch.socksPort = static_cast<int>(settings.integer(QStringLiteral("socksPort"), 0));
    patch.redirPort = static_cast<int>(settings.integer(QStringLiteral("redirPort"), 0));
    patch.tproxyPort = static_cast<int>(settings.integer(QStringLiteral("tproxyPort"), 0));
    patch.logLevel = settings.text(QStringLiteral("logLevel"), QStringLiteral("silent"));
    patch.allowLan = settings.boolean(QStringLiteral("allowLan"), false);
    patch.ipv6 = settings.boolean(QStringLiteral("ipv6Enabled"), false);
    return patch;
}

// The ports of the patch the kernel did not open, as "7890 (mixed-port)", from its "/configs" answer.
QStringList unopenedPorts(const ConfigPatch& patch, const QJsonObject& configs)
{
    const std::pair<const char*, std::optional<int>> wanted[] = {
        {"mixed-port", patch.mixedPort},   {"port", patch.port},
        {"socks-port", patch.socksPort},   {"redir-port", patch.redirPort},
        {"tproxy-port", patch.tproxyPort},
    };
    QStringList missing;
    for (const auto& [key, port] : wanted) {
        if (port.value_or(0) > 0 && configs.value(QLatin1String(key)).toInteger(0) != *port)
            missing.append(QStringLiteral("%1 (%2)").arg(*port).arg(QLatin1String(key)));
    }
    return missing;
}

// The kernel numbers the rules of the compiled configuration; the compiler may have put rules of its own
// before the profile's. Renumbers "rules[n]" in the kernel's words to the profile's own rules.
QString withProfileRuleIndexes(const QString& output, const QString& compiledFile)
{
    QFile file(compiledFile);
    if (!file.open(QIODevice::ReadOnly))
        return output;
    const QJsonArray rules =
        QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("rules")).toArray();
    const QString first = rules.isEmpty() ? QString() : rules.first().toString();
    const int inserted =
        first == ConfigCompiler::quicBlockAllRule || first == ConfigCompiler::quicBlockOverseasRule ? 1 : 0;
    if (inserted == 0)
        return output;
    static const QRegularExpression index(QStringLiteral("\\b([Rr]ules)\\[(\\d+)\\]"));
    QString renumbered;
    qsizetype from = 0;
    for (const QRegularExpressionMatch& match : index.globalMatch(output)) {
        const int n = match.captured(2).toInt();
        renumbered += output.mid(from, match.capturedStart() - from);
        renumbered += n >= inserted ? QStringLiteral("%1[%2]").arg(match.captured(1)).arg(n - inserted)
                                    : match.captured();
        from = match.capturedEnd();
    }
    return renumbered + output.mid(from);
}

} // namespace

AppState::AppState(AppEnvironment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)), m_settings(*m_environment.settings),
      m_paths(m_environment.paths), m_helper(*m_environment.helper),
      m_launchRouter(m_helper, m_environment.privilegedHelperSocket),
      m_supervisor(m_paths, m_launchRouter, m_settings), m_configValidator(m_paths, 10.0),
      m_alertCoordinator(*m_environment.alertPresenter), m_recovery(m_environment.kernelRecovery),
      m_geodata(m_paths, m_settings, &m_network, m_environment.geodataRetryAfter)
{
    try {
        m_paths.prepare();
        m_paths.seedDefaultProfileIfNeeded(m_environment.defaultProfileResource);
    } catch (const std::exception& error) {
        qCCritical(lcAppState, "Workspace not ready: %s", qUtf8Printable(describe(error)));
    }

    rebuildClient();
    m_stores = new KernelStores(*m_client, m_settings, m_paths.runtimeConfigFile(), this);
    m_stores->setProfileNameProvider([this] { return m_activeProfileName; });
    m_subscriptions = new SubscriptionManager(
        m_paths.profilesDirectory() + QStringLiteral("subscription_ledger.json"), m_settings, this);
    m_profiles = new ProfileStore(m_paths, m_settings, m_subscriptions, &m_supervisor, this);
    m_runtimeManager = new RuntimeManager(m_paths, m_settings, GitHubReleaseService(&m_network, m_settings),
                                          RuntimeDownloader(&m_network), this);
    connect(m_runtimeManager, &RuntimeManager::isPendingRestartChanged, this, &AppState::runtimeSwitched);
    m_history = new TrafficHistory(m_paths, m_settings, this);
    // The connection store is the history's only writer; without a database it records nothing.
    m_stores->connections().setFlowRecorder(m_history->flowDatabase());
    // The flow is a child: whenever it cleans up, this state is there.
    AppUpdateFlow::Hooks hooks{[this] { return shutdown(); }, [] { QCoreApplication::exit(0); }};
    m_updateFlow = new AppUpdateFlow(m_settings, m_helper,
                                     m_environment.bundlePath.isEmpty() ? AppBundle::running()
                                                                        : AppBundle(m_environment.bundlePath),
                                     std::move(hooks), this);

    if (!m_environment.networkServices) {
        m_ownNetworkServices = std::make_unique<LinuxNetworkServices>();
        m_environment.networkServices = m_ownNetworkServices.get();
    }
    SystemProxyController::Context proxyContext;
    proxyContext.launcher = &m_helper;
    proxyContext.settings = &m_settings;
    proxyContext.services = m_environment.networkServices;
    proxyContext.client = [this]() -> const MihomoClient& { return *m_client; };
    proxyContext.helperPrivileged = [this] { return m_launchRouter.privilegedAvailable(); };
    proxyContext.kernelLog = m_paths.coreLogFile();
    m_proxyModes = new SystemProxyController(std::move(proxyContext), this);
    connect(m_proxyModes, &SystemProxyController::modesChanged, this, &AppState::modesChanged);
    m_wifiSuspension = new WifiSuspension(m_settings, *m_proxyModes, this);
    connect(m_wifiSuspension, &WifiSuspension::suspensionChanged, this, &AppState::modesChanged);
    SubscriptionRefresher::Hooks refresh{
        [this]() -> std::optional<QString> {
            try {
                const std::optional<ProfileNode> profile = activeProfile();
                return profile ? std::optional<QString>(profile->fileName) : std::nullopt;
            } catch (const std::exception&) {
                return std::nullopt;
            }
        },
        [this] { return reloadRuntimeConfiguration(); }, [this] { return reloadProfileList(); }};
    m_refresher =
        new SubscriptionRefresher(*m_profiles, std::move(refresh), m_environment.subscriptionRefresh, this);
    m_refresher->start();

    m_helperInstalled = m_helper.isRegistered();
    m_activeProfileName = m_settings.text(kActiveProfileName);
    m_isKernelIntentionallyStopped = m_settings.boolean(kIntentionallyStopped, false);
    m_bootState =
        m_settings.boolean(kHasCompletedOnboarding, false) ? AppBootState::booting : AppBootState::onboarding;

    migrateGlobalUserAgent();

    m_lastOverrideSnapshot = EngineSettings::buildOverridesFromDefaults(m_settings);
    connect(&m_settings, &Settings::changed, this, &AppState::settingsChanged);
    connect(&m_supervisor, &CoreSupervisor::kernelExited, this, &AppState::kernelExited);

    detach(this, &AppState::ensureGeodata, "Geodata check");
    if (m_settings.boolean(AppUpdateFlow::autoCheckKey, true))
        automaticUpdateCheck(this, m_environment.updateCheckDelay);
    m_networkMonitor =
        new NetworkEnvironmentMonitor(m_environment.wifiNameSource ? m_environment.wifiNameSource() : nullptr,
                                      std::chrono::seconds(5), this);
    connect(m_networkMonitor, &NetworkEnvironmentMonitor::ssidChanged, m_wifiSuspension,
            &WifiSuspension::networkChangedInBackground);
    m_networkMonitor->start();
    sampleMemory();
    connect(&m_memoryTimer, &QTimer::timeout, this, &AppState::sampleMemory);
    m_memoryTimer.start(m_environment.memorySamplingPeriod);
}

AppState::~AppState() = default;

void AppState::migrateGlobalUserAgent()
{
    const std::optional<QString> stored = m_settings.text(kGlobalUA);
    if (!stored || *stored == QLatin1String("clash-meta") || *stored == QLatin1String("clash.meta"))
        m_settings.setText(kGlobalUA, UserAgentHelper::defaultUA);
}

void AppState::rebuildClient()
{
    m_client = std::make_unique<MihomoClient>(ControllerEndpoint::fromSettings(m_settings), &m_network);
    if (m_stores)
        m_stores->setClient(*m_client);
}

// MARK: launch and boot

void AppState::launch()
{
    launchTask(this);
}

QCoro::Task<> AppState::launchTask(QPointer<AppState> self)
{
    try {
        if (self->m_bootState == AppBootState::onboarding) {
            co_await QCoro::sleepFor(500ms);
            if (self && self->m_environment.openOnboarding)
                self->m_environment.openOnboarding();
            co_return;
        }
        co_await self->boot();
    } catch (const std::exception& error) {
        qCCritical(lcAppState, "Launch failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> AppState::completeOnboarding()
{
    m_settings.setBoolean(kHasCompletedOnboarding, true);
    co_await boot();
}

void AppState::completeOnboardingInBackground()
{
    detach(this, &AppState::completeOnboarding, "Boot after onboarding");
}

QCoro::Task<> AppState::detach(QPointer<AppState> self, QCoro::Task<> (AppState::*work)(), const char* what)
{
    try {
        if (self)
            co_await (self.data()->*work)();
    } catch (const std::exception& error) {
        qCCritical(lcAppState, "%s failed: %s", what, qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> AppState::boot()
{
    QPointer<AppState> self(this);
    if (m_bootState != AppBootState::booting)
        setBootState(AppBootState::booting);

    const bool listed = co_await reloadProfileNodes();
    if (!self)
        co_return;
    // Only a list that was read can show that a profile is gone; after a read failure it stays chosen.
    if (listed && m_activeProfileName) {
        const bool exists =
            std::any_of(m_profileNodes.cbegin(), m_profileNodes.cend(),
                        [&](const ProfileNode& node) { return node.name == *m_activeProfileName; });
        if (!exists) {
            qCInfo(lcAppState, "Active profile \"%s\" no longer exists; cleared",
                   qUtf8Printable(*m_activeProfileName));
            setActiveProfileName(std::nullopt);
        }
    }

    const HelperStatus status = co_await m_helper.checkStatus();
    if (!self)
        co_return;
    m_helperInstalled = m_helper.isRegistered();
    qCInfo(lcAppState, "Helper status: %s",
           status == HelperStatus::ok              ? "ok"
           : status == HelperStatus::notRegistered ? "not registered"
           : status == HelperStatus::outdated      ? "outdated"
                                                   : "unreachable");

    switch (status) {
    case HelperStatus::notRegistered: {
        const int choice = m_alertCoordinator.show(
            {QStringLiteral("Helper Not Installed"),
             QStringLiteral(
                 "Tarnwick starts the Mihomo kernel through its helper, which is not installed for "
                 "this user.\n\nClick 'Install' to install and start its systemd user unit (the "
                 "same as running \"tarnwick-helper --install\")."),
             Alert::Style::warning,
             {QStringLiteral("Install"), QStringLiteral("Later")}});
        if (choice == 0) {
            co_await m_helper.registerHelper();
            if (!self)
                co_return;
            m_helperInstalled = m_helper.isRegistered();
        }
        if (m_helperInstalled && listed)
            co_await startKernel();
        break;
    }
    case HelperStatus::outdated: {
        const int choice = m_alertCoordinator.show(
            {QStringLiteral("Helper Update Available"),
             QStringLiteral("The running helper belongs to another version of Tarnwick.\n\nClick 'Update' "
                            "to restart it from this version (the same as running \"tarnwick-helper "
                            "--install\")."),
             Alert::Style::warning,
             {QStringLiteral("Update"), QStringLiteral("Later")}});
        if (choice == 0) {
            co_await m_helper.registerHelper();
            if (!self)
                co_return;
        }
        if (m_helperInstalled && listed)
            co_await startKernel();
        break;
    }
    case HelperStatus::ok:
    case HelperStatus::unreachable:
        if (m_helperInstalled && listed && !m_isKernelIntentionallyStopped && m_activeProfileName)
            co_await startKernel();
        break;
    }
    if (!self)
        co_return;
    setBootState(AppBootState::ready);
    const char* why = m_kernelStatus.isRunningOrStarting() ? ""
                      : !m_helperInstalled                 ? " (the helper is not installed)"
                      : !listed                            ? " (the profile list could not be read)"
                      : m_isKernelIntentionallyStopped     ? " (stopped by the user)"
                      : !m_activeProfileName               ? " (no active profile)"
                                                           : " (the start failed)";
    qCInfo(lcAppState, "Boot complete: kernel %s%s",
           m_kernelStatus.isRunningOrStarting() ? "running" : "stopped", why);
}

QCoro::Task<> AppState::reloadProfileList()
{
    co_await reloadProfileNodes();
}

QCoro::Task<bool> AppState::reloadProfileNodes()
{
    QPointer<AppState> self(this);
    try {
        QList<ProfileNode> nodes = co_await m_profiles->nodes();
        if (!self)
            co_return false;
        m_profileNodes = std::move(nodes);
        Q_EMIT profileNodesChanged();
        co_return true;
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Profile list not loaded: %s", qUtf8Printable(describe(error)));
    }
    co_return false;
}

// MARK: kernel flows

std::optional<ProfileNode> AppState::activeProfile() const
{
    if (!m_activeProfileName)
        return std::nullopt;
    const auto node = std::find_if(m_profileNodes.cbegin(), m_profileNodes.cend(),
                                   [&](const ProfileNode& n) { return n.name == *m_activeProfileName; });
    if (node == m_profileNodes.cend())
        throw AppError(AppError::Kind::operationFailed,
                       QStringLiteral("Profile not found: ") + *m_activeProfileName);
    return *node;
}

QCoro::Task<> AppState::compileAndValidate(std::optional<QString> fileName)
{
    // Without a profile the runtime configuration on disk is the one used.
    if (!fileName) {
        co_await m_configValidator.validate(m_paths.runtimeConfigFile());
        co_return;
    }
    // Checked as a candidate first: a profile the kernel rejects never replaces the configuration the
    // running kernel was started with.
    QPointer<AppState> self(this);
    const QString candidate = m_paths.workDirectory() + QStringLiteral("config.candidate.json");
    const QString target = m_paths.runtimeConfigFile();
    try {
        co_await m_profiles->syncToRuntime(*fileName, candidate);
        if (!self)
            co_return;
        co_await m_configValidator.validate(candidate);
    } catch (const ConfigValidationError& error) {
        const QString words = withProfileRuleIndexes(error.output(), candidate);
        QFile::remove(candidate);
        if (error.kind() != ConfigValidationError::Kind::failed || words == error.output())
            throw;
        throw ConfigValidationError::failed(error.exitCode(), words);
    } catch (...) {
        QFile::remove(candidate);
        throw;
    }
    if (::rename(QFile::encodeName(candidate).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString reason = qt_error_string(errno);
        QFile::remove(candidate);
        throw AppError(AppError::Kind::operationFailed,
                       QStringLiteral("Cannot write %1: %2").arg(target, reason));
    }
}

QCoro::Task<> AppState::startKernel()
{
    // A kernel that ended on its own leaves the error status; starting again is how it recovers.
    if (m_kernelStatus.isRunningOrStarting())
        co_return;
    QPointer<AppState> self(this);
    const quint64 attempt = ++m_kernelAttempt;
    // A stop (or another start) since this one began: it ends without launching or undoes its launch.
    const auto superseded = [&] { return !self || m_kernelAttempt != attempt; };
    setKernelStatus(KernelStatus::starting());
    setKernelIntentionallyStopped(false);
    try {
        if (!QFileInfo(m_paths.managedCoreExecutable()).isExecutable())
            throw AppError(AppError::Kind::kernelMissing,
                           QStringLiteral("No kernel is installed at ") + m_paths.managedCoreExecutable());
        std::optional<QString> profileFile;
        if (const std::optional<ProfileNode> profile = activeProfile())
            profileFile = profile->fileName;
        co_await compileAndValidate(profileFile);
        if (superseded())
            co_return;
        const qint32 pid = co_await m_supervisor.start();
        if (!self)
            co_return;
        if (superseded()) {
            qCInfo(lcAppState, "Kernel (PID %d) stopped: a stop came while it was starting", pid);
            co_await m_supervisor.stop();
            co_return;
        }
        kernelLaunched(pid);
    } catch (const std::exception& error) {
        if (!superseded())
            kernelStartFailed(error);
        else if (self)
            qCInfo(lcAppState, "Superseded kernel start ended: %s", qUtf8Printable(describe(error)));
    }
}

void AppState::kernelLaunched(qint32 pid)
{
    rebuildClient();
    m_recovery.kernelStarted();
    setKernelStatus(KernelStatus::running(pid));
    detach(this, &AppState::runReadinessSequence, "Readiness sequence");
}

void AppState::kernelExited(qint32 pid, const QString& description)
{
    if (m_kernelStatus != KernelStatus::running(pid))
        return;
    const QString message = QStringLiteral("The kernel stopped unexpectedly (%1)").arg(description);
    qCWarning(lcAppState, "%s (PID %d)", qUtf8Printable(message), pid);
    setKernelStatus(KernelStatus::error(message));
    setMihomoVersion(std::nullopt);
    const std::optional<std::chrono::milliseconds> delay = m_recovery.kernelEnded();
    if (!delay) {
        detach(this, &AppState::kernelStaysDown, "Switching the system proxy off");
        presentError(
            AppError(AppError::Kind::kernelCrashed,
                     QStringLiteral("The kernel stopped unexpectedly %1 times in a row (the last time: "
                                    "%2) and is not restarted again. Its log is %3.")
                         .arg(m_recovery.endsInARow())
                         .arg(description, m_paths.coreLogFile())),
            false);
        return;
    }
    qCInfo(lcAppState, "Restarting the kernel in %lld ms", static_cast<long long>(delay->count()));
    recoverTask(this, *delay, m_kernelStatus);
}

QCoro::Task<> AppState::recoverTask(QPointer<AppState> self, std::chrono::milliseconds delay,
                                    KernelStatus ended)
{
    try {
        co_await QCoro::sleepFor(delay);
        // Stopped or started by hand meanwhile: nothing left to recover.
        if (!self || self->m_kernelStatus != ended)
            co_return;
        co_await self->startKernel();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Kernel restart failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> AppState::kernelStaysDown()
{
    co_await m_proxyModes->kernelDown();
}

void AppState::kernelStartFailed(const std::exception& error)
{
    setKernelStatus(KernelStatus::stopped());
    detach(this, &AppState::kernelStaysDown, "Switching the system proxy off");
    presentError(error, true);
}

QCoro::Task<> AppState::runReadinessSequence()
{
    QPointer<AppState> self(this);
    // Everything below is about this kernel; once it is stopped or replaced the sequence has nothing to do.
    const KernelStatus kernel = m_kernelStatus;
    const auto stillCurrent = [&] { return self && self->m_kernelStatus == kernel; };
    std::optional<QString> version;
    for (int attempt = 0; attempt <= readinessRetries; ++attempt) {
        try {
            version = co_await m_client->version();
            break;
        } catch (const std::exception&) {
        }
        if (!stillCurrent())
            co_return;
        if (attempt < readinessRetries)
            co_await QCoro::sleepFor(readinessInterval);
        if (!stillCurrent())
            co_return;
    }
    if (!stillCurrent())
        co_return;
    if (version)
        setMihomoVersion(version);
    else
        qCWarning(lcAppState, "Kernel controller did not answer after %d retries", readinessRetries);

    // The kernel opens its controller a moment before it applies its configuration; until then it lists
    // no GLOBAL group, and a command would find none of the profile's groups.
    for (int attempt = 0;; ++attempt) {
        co_await m_stores->refreshProxies();
        if (!stillCurrent())
            co_return;
        const QList<ProxyGroup>& groups = m_stores->proxy().groups();
        const bool applied = std::any_of(groups.cbegin(), groups.cend(), [](const ProxyGroup& group) {
            return group.name == QLatin1String("GLOBAL");
        });
        if (applied || attempt == readinessRetries)
            break;
        co_await QCoro::sleepFor(readinessInterval);
        if (!stillCurrent())
            co_return;
    }
    co_await applyLiveSettings();
    if (!stillCurrent())
        co_return;
    m_stores->kernelReady();
    qCInfo(lcAppState, "Kernel ready (PID %d, version %s)", kernel.pid,
           qUtf8Printable(m_mihomoVersion.value_or(QStringLiteral("unknown"))));
    try {
        co_await m_proxyModes->kernelReady();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "System proxy or TUN mode not restored: %s", qUtf8Printable(describe(error)));
    }
    if (!stillCurrent())
        co_return;
    m_kernelReady = true;
    if (onKernelReady)
        onKernelReady();
    Q_EMIT kernelReady();
}

QCoro::Task<> AppState::applyLiveSettings()
{
    QPointer<AppState> self(this);
    const ConfigPatch patch = livePatch(m_settings);
    const MihomoClient client = *m_client;
    try {
        co_await client.patchConfigs(patch);
        qCInfo(lcAppState, "Global API override applied successfully.");
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Failed to apply API override: %s", qUtf8Printable(describe(error)));
        co_return;
    }
    // A port another program holds is not an error to the kernel: it answers 0 for it.
    QJsonObject configs;
    try {
        configs = co_await client.configs();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Kernel ports not checked: %s", qUtf8Printable(describe(error)));
        co_return;
    }
    if (!self)
        co_return;
    const QStringList missing = unopenedPorts(patch, configs);
    if (missing.isEmpty())
        co_return;
    presentError(AppError(AppError::Kind::operationFailed,
                          QStringLiteral("The kernel could not open port %1; another program is probably "
                                         "using it. Choose another port in the settings.")
                              .arg(missing.join(QStringLiteral(", ")))),
                 false);
}

QCoro::Task<> AppState::stopKernel()
{
    QPointer<AppState> self(this);
    ++m_kernelAttempt;
    setKernelIntentionallyStopped(true);
    setKernelStatus(KernelStatus::stopped());
    setMihomoVersion(std::nullopt);
    try {
        co_await m_supervisor.stop();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Kernel stop failed: %s", qUtf8Printable(describe(error)));
    }
    if (self)
        co_await m_proxyModes->kernelDown();
}

QCoro::Task<> AppState::setSystemProxy(bool enabled)
{
    co_await m_proxyModes->setSystemProxy(enabled);
}

QCoro::Task<> AppState::setTunMode(bool enabled)
{
    co_await m_proxyModes->setTunMode(enabled);
}

void AppState::runtimeSwitched()
{
    if (!m_runtimeManager->isPendingRestart())
        return;
    m_runtimeManager->setPendingRestart(false);
    if (m_kernelStatus.isRunningOrStarting())
        detach(this, &AppState::restartKernel, "Restart on the switched kernel");
}

QCoro::Task<> AppState::automaticUpdateCheck(QPointer<AppState> self, std::chrono::milliseconds delay)
{
    try {
        co_await QCoro::sleepFor(delay);
        if (self)
            co_await self->m_updateFlow->check(true);
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Application update check failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> AppState::restartKernel()
{
    QPointer<AppState> self(this);
    if (m_kernelStatus.isRunningOrStarting()) {
        setKernelStatus(KernelStatus::stopped());
        setMihomoVersion(std::nullopt);
        try {
            co_await m_supervisor.stop();
        } catch (const std::exception& error) {
            qCWarning(lcAppState, "Kernel stop before restart failed: %s", qUtf8Printable(describe(error)));
        }
        if (!self)
            co_return;
    }
    co_await startKernel();
}

QCoro::Task<> AppState::switchProfile(ProfileNode profile)
{
    QPointer<AppState> self(this);
    const KernelStatus previous = m_kernelStatus;
    setKernelStatus(KernelStatus::starting());
    try {
        co_await compileAndValidate(profile.fileName);
        if (!self)
            co_return;
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        // The running kernel keeps its configuration.
        setKernelStatus(previous.kind == KernelStatus::Kind::starting ? KernelStatus::stopped() : previous);
        presentError(error, true, profile.fileName);
        co_return;
    }
    try {
        const qint32 pid = co_await m_profiles->activate(profile.fileName);
        if (!self)
            co_return;
        setActiveProfileName(profile.name);
        setKernelIntentionallyStopped(false);
        kernelLaunched(pid);
    } catch (const std::exception& error) {
        if (self)
            kernelStartFailed(error);
    }
}

QCoro::Task<> AppState::reloadRuntimeConfiguration()
{
    QPointer<AppState> self(this);
    try {
        co_await reloadKernelConfiguration();
    } catch (const std::exception& error) {
        if (self)
            presentError(error, false);
    }
}

QCoro::Task<> AppState::reloadKernelConfiguration()
{
    QPointer<AppState> self(this);
    std::optional<QString> profileFile;
    if (const std::optional<ProfileNode> profile = activeProfile())
        profileFile = profile->fileName;
    co_await compileAndValidate(profileFile);
    if (!self)
        co_return;
    co_await m_client->reloadConfig(true);
    if (!self)
        co_return;
    co_await m_stores->refreshProxies();
    if (!self)
        co_return;
    // The reload resets what the readiness sequence patched in; the kernel keeps the configured ports.
    co_await applyLiveSettings();
}

void AppState::settingsChanged()
{
    NativeValue::Dictionary overrides = EngineSettings::buildOverridesFromDefaults(m_settings);
    if (m_lastOverrideSnapshot && *m_lastOverrideSnapshot == overrides)
        return;
    m_lastOverrideSnapshot = std::move(overrides);
    hotReloadTask(this, ++m_hotReloadGeneration);
}

QCoro::Task<> AppState::hotReloadTask(QPointer<AppState> self, quint64 generation)
{
    try {
        co_await QCoro::sleepFor(hotReloadDelay);
        // A later change restarted the quiet period.
        if (!self || generation != self->m_hotReloadGeneration || !self->m_kernelStatus.isRunningOrStarting())
            co_return;
        qCInfo(lcAppState, "Hot Reload Debouncer triggered kernel configuration reload.");
        Q_EMIT self->hotReloadTriggered();
        co_await self->reloadRuntimeConfiguration();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Hot reload failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> AppState::shutdown()
{
    QPointer<AppState> self(this);
    const bool systemProxy = m_proxyModes->systemProxyEnabled();
    const bool tun = m_proxyModes->tunEnabled();
    const bool intentionallyStopped = m_isKernelIntentionallyStopped;
    co_await m_proxyModes->shutdown();
    if (!self)
        co_return;
    try {
        co_await m_supervisor.stop();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Kernel stop at shutdown failed: %s", qUtf8Printable(describe(error)));
    }
    if (!self)
        co_return;
    setKernelStatus(KernelStatus::stopped());
    m_settings.setBoolean(kSystemProxyEnabled, systemProxy);
    m_settings.setBoolean(kTunEnabled, tun);
    m_settings.setBoolean(kIntentionallyStopped, intentionallyStopped);
}

void AppState::presentError(const std::exception& error, bool duringKernelStart,
                            std::optional<QString> profileFile)
{
    const AppError appError = AppError::from(error, duringKernelStart);
    qCWarning(lcAppState, "%s", qUtf8Printable(appError.message()));
    // "Edit Config" opens the user's profile: the runtime configuration is rebuilt on every start.
    if (!profileFile && m_activeProfileName) {
        const auto node = std::find_if(m_profileNodes.cbegin(), m_profileNodes.cend(),
                                       [&](const ProfileNode& n) { return n.name == *m_activeProfileName; });
        if (node != m_profileNodes.cend())
            profileFile = node->fileName;
    }
    const QString configFile =
        profileFile ? m_paths.profilesDirectory() + *profileFile : m_paths.runtimeConfigFile();
    QPointer<AppState> self(this);
    m_alertCoordinator.present(
        appError,
        [self, configFile] {
            if (self && self->m_environment.openFile)
                self->m_environment.openFile(configFile);
        },
        [self] {
            if (self && self->m_environment.openKernelDownload)
                self->m_environment.openKernelDownload();
        });
}

// MARK: geodata

QCoro::Task<> AppState::ensureGeodata()
{
    if (m_geodataRunning) {
        co_await qCoro(this, &AppState::geodataFinished);
        co_return;
    }
    m_geodataRunning = true;
    QPointer<AppState> self(this);
    co_await downloadGeodata();
    if (!self)
        co_return;
    m_geodataRunning = false;
    Q_EMIT geodataFinished();
}

QCoro::Task<> AppState::downloadGeodata()
{
    co_await m_geodata.run();
}

// MARK: observable fields

void AppState::sampleMemory()
{
    const qint64 bytes = residentBytes();
    if (bytes == m_appMemoryBytes)
        return;
    m_appMemoryBytes = bytes;
    Q_EMIT appMemoryBytesChanged();
}

void AppState::setBootState(AppBootState state)
{
    if (m_bootState == state)
        return;
    m_bootState = state;
    Q_EMIT bootStateChanged();
}

void AppState::setKernelStatus(const KernelStatus& status)
{
    if (m_kernelStatus == status)
        return;
    m_kernelStatus = status;
    // Ready again only once the readiness sequence has run for the new kernel.
    m_kernelReady = false;
    m_proxyModes->kernelNotReady();
    // Stopped, failed or on its way to a new start: this kernel's streams end; the next readiness starts
    // them again.
    if (status.kind != KernelStatus::Kind::running)
        m_stores->kernelStopped();
    Q_EMIT kernelStatusChanged();
}

void AppState::setMihomoVersion(const std::optional<QString>& version)
{
    if (m_mihomoVersion == version)
        return;
    m_mihomoVersion = version;
    Q_EMIT mihomoVersionChanged();
}

void AppState::setActiveProfileName(const std::optional<QString>& name)
{
    if (name)
        m_settings.setText(kActiveProfileName, *name);
    else
        m_settings.remove(kActiveProfileName);
    if (m_activeProfileName == name)
        return;
    m_activeProfileName = name;
    Q_EMIT activeProfileNameChanged();
}

void AppState::setKernelIntentionallyStopped(bool stopped)
{
    m_isKernelIntentionallyStopped = stopped;
    m_settings.setBoolean(kIntentionallyStopped, stopped);
}

} // namespace tarnwick
