#pragma once

#include "platform/NetworkSetupCommand.h"

#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <functional>

namespace tarnwick {

class CoreXPCLauncher;
class MihomoClient;
class NetworkServices;
class Settings;

// Switches the system proxy and TUN mode for every network service through the helper, and keeps the
// user's two choices ("systemProxyEnabled", "tunEnabled"). The system's proxy points at the kernel only
// while the kernel is ready and no trusted Wi-Fi suspends it; the choices themselves stay as the user made
// them. Main thread only.
class SystemProxyController final : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        CoreXPCLauncher* launcher = nullptr;
        Settings* settings = nullptr;
        NetworkServices* services = nullptr;
        // The running kernel's controller client; the application replaces it at every start.
        std::function<const MihomoClient&()> client;
        // Whether the helper may give the kernel the network privileges TUN needs.
        std::function<bool()> helperPrivileged;
        // Where the kernel writes its log, for the error of a TUN mode that did not start.
        QString kernelLog;
    };

    explicit SystemProxyController(Context context, QObject* parent = nullptr);

    bool systemProxyEnabled() const { return m_systemProxyEnabled; }
    bool tunEnabled() const { return m_tunEnabled; }
    bool isSuspendedBySSID() const { return m_suspendedBySSID; }
    // Whether the system's proxy settings point at the kernel right now.
    bool systemProxyApplied() const { return m_systemProxyApplied; }

    // Set and persist a choice without touching the system.
    void setSystemProxyEnabled(bool enabled);
    void setTunEnabled(bool enabled);
    void setSuspendedBySSID(bool suspended) { m_suspendedBySSID = suspended; }

    // Each service in turn; throws "Helper error: All network services failed" (flag unchanged) when no
    // service could be switched. While the kernel is not ready only the choice is kept: the readiness
    // sequence applies it.
    QCoro::Task<> setSystemProxy(bool enabled);
    // Switches the kernel's TUN inbound and the services' DNS servers. Throws when the kernel could not
    // bring TUN up (flag unchanged).
    QCoro::Task<> setTunMode(bool enabled);

    // The kernel is starting, restarting or stopped: choices made now are applied at its readiness.
    void kernelNotReady() { m_kernelReady = false; }
    // The kernel answers: the system proxy when chosen, else TUN when chosen.
    QCoro::Task<> kernelReady();
    // The kernel stopped and stays down: the system's proxy no longer points at it, the choice is kept.
    QCoro::Task<> kernelDown();
    // The application quits: proxy off on every service when it was on, DNS back to automatic when TUN
    // was on. The choices are kept for the next launch.
    QCoro::Task<> shutdown();

    // Before the proxy port and DNS server changes of a transition are flushed from the kernel's caches.
    static constexpr std::chrono::milliseconds flushDelay{100};
    static inline const QString tunDNSServer = QStringLiteral("223.6.6.6");
    static inline const QString bypassKey = QStringLiteral("systemProxyBypass");
    static inline const QString defaultBypass = QStringLiteral("localhost, 127.0.0.1, *.local");

    // The items of a bypass setting: split at ',', trimmed, empty ones dropped.
    static QStringList bypassDomains(const QString& setting);
    // Whether the application leaves a service alone (another proxy tool's or a VPN's).
    static bool isExcludedService(const QString& name);
    // The proxy port in the kernel's "/configs" answer: "mixed-port", else "port", else 7890.
    static int proxyPort(const QJsonObject& configs);

Q_SIGNALS:
    void modesChanged();
    // The post-transition cache flush has run (whatever its outcome).
    void cacheFlushed();

private:
    // How many services took every command.
    QCoro::Task<int> applyProxy(QStringList services, int port);
    QCoro::Task<int> disableProxy(QStringList services);
    QCoro::Task<> setDNS(QStringList services, bool tun);
    QCoro::Task<QStringList> services();
    void scheduleCacheFlush();
    static QCoro::Task<> flushTask(QPointer<SystemProxyController> self, quint64 generation);

    Context m_context;
    bool m_systemProxyEnabled = false;
    bool m_tunEnabled = false;
    bool m_suspendedBySSID = false;
    bool m_kernelReady = false;
    bool m_systemProxyApplied = false;
    bool m_tunDNSApplied = false;
    quint64 m_flushGeneration = 0;
};

} // namespace tarnwick
