#pragma once

#include "AlertCoordinator.h"
#include "AppUpdateFlow.h"
#include "ConfigValidator.h"
#include "CoreSupervisor.h"
#include "GeodataUpdater.h"
#include "KernelLaunchRouter.h"
#include "KernelRecovery.h"
#include "KernelStatus.h"
#include "KernelStores.h"
#include "RuleEditorMode.h"
#include "SubscriptionRefresher.h"
#include "SystemProxyController.h"
#include "TrafficHistory.h"
#include "WifiSuspension.h"
#include "config/ClashPaths.h"
#include "config/ProfileNode.h"
#include "config/yaml/NativeValue.h"
#include "controller/MihomoClient.h"
#include "platform/HelperSocketPath.h"
#include "runtime/RuntimeManager.h"

#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

namespace tarnwick {

class HelperClient;
class NetworkEnvironmentMonitor;
class NetworkServices;
class WifiNameSource;
class ProfileStore;
class Settings;
class SubscriptionManager;

enum class AppBootState
{
    onboarding,
    booting,
    ready
};

// What AppState is given by the executable (or a test): the platform's pieces and the window actions.
struct AppEnvironment
{
    Settings* settings = nullptr;
    ClashPaths paths;
    HelperClient* helper = nullptr;
    AlertPresenter* alertPresenter = nullptr;
    // The profile copied into an empty workspace.
    QString defaultProfileResource = QStringLiteral(":/Default.yaml");
    // Window actions; a headless application passes its own.
    std::function<void()> openOnboarding;
    std::function<void(QString)> openFile;    // "Edit Config"
    std::function<void()> openKernelDownload; // a kernel is missing
    std::function<void()> openMainWindow;     // another launch on this workspace; unset without windows
    std::chrono::milliseconds memorySamplingPeriod{5000};
    // How a kernel that ended on its own is restarted.
    KernelRecovery::Policy kernelRecovery;
    // How long a geodata file whose download failed waits for its next try.
    std::chrono::seconds geodataRetryAfter{std::chrono::hours(24)};
    // The automatic application update check after launch.
    std::chrono::milliseconds updateCheckDelay{10000};
    // The installed application; empty: the running executable's bundle.
    QString bundlePath;
    // The network services the system proxy is set on; NetworkManager's (or "System") when not given.
    NetworkServices* networkServices = nullptr;
    // Where the user's privileged helper (TUN mode) listens when it is installed; empty: never used.
    QString privilegedHelperSocket = HelperSocketPath::privilegedPath(::getuid());
    // Where the Wi-Fi network's name comes from; NetworkManager or iwgetid when not given.
    std::function<std::unique_ptr<WifiNameSource>()> wifiNameSource;
    // When remote profiles are refreshed.
    SubscriptionRefresher::Schedule subscriptionRefresh;
};

// The application's one central state: owns the workspace, the controller client, the profiles, the
// kernel supervisor and validator, and carries the flags the menu, the windows and the control socket
// read. Main thread only.
class AppState final : public QObject
{
    Q_OBJECT

public:
    explicit AppState(AppEnvironment environment, QObject* parent = nullptr);
    ~AppState() override;

    // The launch: onboarding on first launch, else boot(). Returns at once; boot runs as a task.
    void launch();
    // Reloads the profiles, checks the helper, starts the kernel when it should run; ends `ready`.
    QCoro::Task<> boot();
    QCoro::Task<> completeOnboarding();
    // completeOnboarding() as a task of its own, for window actions.
    void completeOnboardingInBackground();
    void setOnboardingOpener(std::function<void()> opener)
    {
        m_environment.openOnboarding = std::move(opener);
    }
    // Brings the main window forward; false when the application runs without windows.
    bool showMainWindow() const
    {
        if (!m_environment.openMainWindow)
            return false;
        m_environment.openMainWindow();
        return true;
    }

    QCoro::Task<> startKernel();
    QCoro::Task<> stopKernel();
    QCoro::Task<> restartKernel();
    QCoro::Task<> switchProfile(ProfileNode profile);
    // Reads the profile list again into profileNodes() (after an import, a rename …); failures are logged.
    QCoro::Task<> reloadProfileList();
    // Recompiles the active profile, validates it and has the running kernel reload it.
    QCoro::Task<> reloadRuntimeConfiguration();
    // The same, throwing what failed instead of alerting: for callers that show the failure in place.
    QCoro::Task<> reloadKernelConfiguration();
    // Switches the system proxy and DNS back, stops the kernel and saves the modes for the next launch.
    QCoro::Task<> shutdown();
    // Downloads the missing geodata files into the work directory; concurrent callers share one run.
    QCoro::Task<> ensureGeodata();

    AppBootState bootState() const { return m_bootState; }
    const KernelStatus& kernelStatus() const { return m_kernelStatus; }
    qint64 appMemoryBytes() const { return m_appMemoryBytes; }
    bool helperInstalled() const { return m_helperInstalled; }
    bool systemProxyEnabled() const { return m_proxyModes->systemProxyEnabled(); }
    bool tunEnabled() const { return m_proxyModes->tunEnabled(); }
    const std::optional<QString>& mihomoVersion() const { return m_mihomoVersion; }
    const QList<ProfileNode>& profileNodes() const { return m_profileNodes; }
    const std::optional<QString>& activeProfileName() const { return m_activeProfileName; }
    bool isKernelIntentionallyStopped() const { return m_isKernelIntentionallyStopped; }
    // The current kernel's readiness sequence has run: its configuration is applied.
    bool isKernelReady() const { return m_kernelReady; }

    void setActiveProfileName(const std::optional<QString>& name);
    void setKernelIntentionallyStopped(bool stopped);
    void setSystemProxyEnabled(bool enabled) { m_proxyModes->setSystemProxyEnabled(enabled); }
    void setTunEnabled(bool enabled) { m_proxyModes->setTunEnabled(enabled); }
    // The system proxy and TUN mode switched on or off; each throws when the switch failed.
    QCoro::Task<> setSystemProxy(bool enabled);
    QCoro::Task<> setTunMode(bool enabled);

    const ClashPaths& paths() const { return m_paths; }
    Settings& settings() const { return m_settings; }
    const MihomoClient& client() const { return *m_client; }
    HelperClient& helper() const { return m_helper; }
    CoreSupervisor& supervisor() { return m_supervisor; }
    const ConfigValidator& configValidator() const { return m_configValidator; }
    ProfileStore& profiles() const { return *m_profiles; }
    SubscriptionManager& subscriptions() const { return *m_subscriptions; }
    // Reads the profile list again (after an import, rename or removal); whether it was read.
    QCoro::Task<bool> reloadProfiles() { return reloadProfileNodes(); }
    AlertCoordinator& alertCoordinator() { return m_alertCoordinator; }
    RuntimeManager& runtimeManager() const { return *m_runtimeManager; }
    AppUpdateFlow& updateFlow() const { return *m_updateFlow; }
    // The flow database and GeoIP resolver; both absent when the database could not be opened.
    TrafficHistory& history() const { return *m_history; }
    SystemProxyController& proxyModes() const { return *m_proxyModes; }
    WifiSuspension& wifiSuspension() const { return *m_wifiSuspension; }
    NetworkEnvironmentMonitor& networkMonitor() const { return *m_networkMonitor; }
    bool isSuspendedBySSID() const { return m_wifiSuspension->isSuspendedBySSID(); }
    const std::optional<QString>& suspendedSSIDName() const { return m_wifiSuspension->suspendedSSIDName(); }
    SubscriptionRefresher& subscriptionRefresher() const { return *m_refresher; }
    ProxyStore& proxyStore() const { return m_stores->proxy(); }
    TrafficStore& trafficStore() const { return m_stores->traffic(); }
    ConnectionStore& connectionStore() const { return m_stores->connections(); }
    LogStore& logStore() const { return m_stores->logs(); }
    KernelStores& kernelStores() const { return *m_stores; }
    const std::optional<NativeValue::Dictionary>& lastOverrideSnapshot() const
    {
        return m_lastOverrideSnapshot;
    }

    // What the rule editor opens for when the Rules page shows next: set by the webpage rule capture,
    // taken (and cleared) by the page.
    const std::optional<RuleEditorMode>& browserRuleEditorMode() const { return m_browserRuleEditorMode; }
    void setBrowserRuleEditorMode(std::optional<RuleEditorMode> mode)
    {
        m_browserRuleEditorMode = std::move(mode);
        Q_EMIT browserRuleEditorModeChanged();
    }

    // Called once the kernel answers after a start; other parts install it.
    std::function<void()> onKernelReady;

    // The quiet period after the last engine-setting change before the running kernel is reloaded.
    static constexpr std::chrono::milliseconds hotReloadDelay{1500};
    static constexpr int readinessRetries = 24;
    static constexpr std::chrono::milliseconds readinessInterval{200};

Q_SIGNALS:
    void bootStateChanged();
    void kernelStatusChanged();
    void appMemoryBytesChanged();
    void mihomoVersionChanged();
    void profileNodesChanged();
    void activeProfileNameChanged();
    void modesChanged();
    void kernelReady();
    void hotReloadTriggered();
    void geodataFinished();
    void browserRuleEditorModeChanged();

private:
    void setBootState(AppBootState state);
    void setKernelStatus(const KernelStatus& status);
    void setMihomoVersion(const std::optional<QString>& version);
    // `profileFile`: the profile "Edit Config" opens; the active one when not given.
    void presentError(const std::exception& error, bool duringKernelStart,
                      std::optional<QString> profileFile = std::nullopt);
    // The end of a start or switch: the new kernel runs and its readiness sequence begins; or it failed.
    void kernelLaunched(qint32 pid);
    void kernelStartFailed(const std::exception& error);
    // The supervisor's report of a kernel that ended on its own: error status, then a restart or an alert.
    void kernelExited(qint32 pid, const QString& description);
    // A kernel switch is pending: the running kernel restarts on the new executable.
    void runtimeSwitched();
    static QCoro::Task<> automaticUpdateCheck(QPointer<AppState> self, std::chrono::milliseconds delay);
    static QCoro::Task<> recoverTask(QPointer<AppState> self, std::chrono::milliseconds delay,
                                     KernelStatus ended);
    // Patches the live engine settings into the running kernel and alerts when a port did not open.
    QCoro::Task<> applyLiveSettings();
    void migrateGlobalUserAgent();
    void sampleMemory();
    void settingsChanged();
    void rebuildClient();
    // Whether the list was read.
    QCoro::Task<bool> reloadProfileNodes();
    // The active profile's node; nothing without one; throws when it is not in the list.
    std::optional<ProfileNode> activeProfile() const;
    // Compiles the profile (when given), has the kernel test it and only then makes it the runtime
    // configuration.
    QCoro::Task<> compileAndValidate(std::optional<QString> fileName);
    QCoro::Task<> runReadinessSequence();
    // The kernel stays down: the system proxy no longer points at it.
    QCoro::Task<> kernelStaysDown();
    QCoro::Task<> runHotReload();
    QCoro::Task<> downloadGeodata();
    static QCoro::Task<> launchTask(QPointer<AppState> self);
    // Runs one of the flows as a task of its own that logs any failure.
    static QCoro::Task<> detach(QPointer<AppState> self, QCoro::Task<> (AppState::*work)(), const char* what);
    static QCoro::Task<> hotReloadTask(QPointer<AppState> self, quint64 generation);

    AppEnvironment m_environment;
    Settings& m_settings;
    ClashPaths m_paths;
    QNetworkAccessManager m_network;
    std::unique_ptr<MihomoClient> m_client;
    KernelStores* m_stores = nullptr;
    HelperClient& m_helper;
    KernelLaunchRouter m_launchRouter;
    CoreSupervisor m_supervisor;
    ConfigValidator m_configValidator;
    SubscriptionManager* m_subscriptions = nullptr;
    ProfileStore* m_profiles = nullptr;
    AlertCoordinator m_alertCoordinator;
    KernelRecovery m_recovery;
    GeodataUpdater m_geodata;
    RuntimeManager* m_runtimeManager = nullptr;
    AppUpdateFlow* m_updateFlow = nullptr;
    TrafficHistory* m_history = nullptr;
    std::unique_ptr<NetworkServices> m_ownNetworkServices;
    SystemProxyController* m_proxyModes = nullptr;
    WifiSuspension* m_wifiSuspension = nullptr;
    NetworkEnvironmentMonitor* m_networkMonitor = nullptr;
    SubscriptionRefresher* m_refresher = nullptr;

    AppBootState m_bootState = AppBootState::booting;
    KernelStatus m_kernelStatus;
    qint64 m_appMemoryBytes = 0;
    bool m_helperInstalled = false;
    std::optional<QString> m_mihomoVersion;
    QList<ProfileNode> m_profileNodes;
    std::optional<QString> m_activeProfileName;
    bool m_isKernelIntentionallyStopped = false;
    bool m_kernelReady = false;
    std::optional<NativeValue::Dictionary> m_lastOverrideSnapshot;
    std::optional<RuleEditorMode> m_browserRuleEditorMode;

    QTimer m_memoryTimer;
    quint64 m_hotReloadGeneration = 0;
    quint64 m_kernelAttempt = 0; // counts starts and stops; a start that sees it move was superseded
    bool m_geodataRunning = false;
};

} // namespace tarnwick
