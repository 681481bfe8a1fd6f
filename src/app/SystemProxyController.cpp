#include "SystemProxyController.h"

#include "AppError.h"
#include "CoreXPCLauncher.h"
#include "HelperClientError.h"
#include "controller/MihomoClient.h"
#include "platform/Logging.h"
#include "platform/NetworkServices.h"
#include "platform/Settings.h"

#include <QCoro/QCoroTimer>
#include <QJsonObject>
#include <algorithm>

namespace tarnwick {

namespace {

const QString kSystemProxyEnabled = QStringLiteral("systemProxyEnabled");
const QString kTunEnabled = QStringLiteral("tunEnabled");
constexpr int kDefaultProxyPort = 7890;

using Protocol = NetworkSetupCommand::Protocol;
constexpr Protocol kProtocols[] = {Protocol::web, Protocol::secureWeb, Protocol::socks};

} // namespace

SystemProxyController::SystemProxyController(Context context, QObject* parent)
    : QObject(parent), m_context(std::move(context))
{
    m_systemProxyEnabled = m_context.settings->boolean(kSystemProxyEnabled, false);
    m_tunEnabled = m_context.settings->boolean(kTunEnabled, false);
}

QStringList SystemProxyController::bypassDomains(const QString& setting)
{
    QStringList domains;
    for (const QString& item : setting.split(QLatin1Char(','))) {
        const QString trimmed = item.trimmed();
        if (!trimmed.isEmpty())
            domains.append(trimmed);
    }
    return domains;
}

bool SystemProxyController::isExcludedService(const QString& name)
{
    static const char* const excluded[] = {"Surge", "Tailscale", "Shadowrocket", "Loon", "SFM"};
    return std::any_of(std::begin(excluded), std::end(excluded),
                       [&](const char* word) { return name.contains(QLatin1String(word)); });
}

int SystemProxyController::proxyPort(const QJsonObject& configs)
{
    for (const char* key : {"mixed-port", "port"}) {
        const QJsonValue value = configs.value(QLatin1String(key));
        const double number = value.toDouble(0);
        if (value.isDouble() && number >= 1 && number <= 65535 && number == static_cast<int>(number))
            return static_cast<int>(number);
    }
    return kDefaultProxyPort;
}

void SystemProxyController::setSystemProxyEnabled(bool enabled)
{
    m_systemProxyEnabled = enabled;
    m_context.settings->setBoolean(kSystemProxyEnabled, enabled);
    Q_EMIT modesChanged();
}

void SystemProxyController::setTunEnabled(bool enabled)
{
    m_tunEnabled = enabled;
    m_context.settings->setBoolean(kTunEnabled, enabled);
    Q_EMIT modesChanged();
}

QCoro::Task<QStringList> SystemProxyController::services()
{
    QStringList names = co_await m_context.services->enabledServices();
    names.erase(std::remove_if(names.begin(), names.end(), &SystemProxyController::isExcludedService),
                names.end());
    co_return names;
}

QCoro::Task<> SystemProxyController::setSystemProxy(bool enabled)
{
    QPointer<SystemProxyController> self(this);
    if (enabled && !m_kernelReady) {
        qCInfo(lcAppState, "System proxy chosen; it is set once the kernel is ready");
        setSystemProxyEnabled(true);
        co_return;
    }
    const QStringList names = co_await services();
    if (!self)
        co_return;
    // Suspended by a trusted Wi-Fi: the choice is kept but the system's proxy stays off.
    const bool apply = enabled && !m_suspendedBySSID;
    int succeeded = 0;
    if (apply) {
        const MihomoClient client = m_context.client();
        const int port = proxyPort(co_await client.configs());
        if (!self)
            co_return;
        succeeded = co_await applyProxy(names, port);
    } else {
        succeeded = co_await disableProxy(names);
    }
    if (!self)
        co_return;
    if (!names.isEmpty() && succeeded == 0)
        throw HelperClientError::helperError(QStringLiteral("All network services failed"));
    m_systemProxyApplied = apply && !names.isEmpty();
    setSystemProxyEnabled(enabled);
    scheduleCacheFlush();
}

QCoro::Task<int> SystemProxyController::applyProxy(QStringList services, int port)
{
    const QStringList bypass = bypassDomains(m_context.settings->text(bypassKey, defaultBypass));
    int succeeded = 0;
    for (const QString& service : services) {
        QList<QStringList> commands;
        for (const Protocol protocol : kProtocols)
            commands.append(NetworkSetupCommand::setProxy(protocol, service, port));
        commands.append(NetworkSetupCommand::setBypassDomains(service, bypass));
        try {
            for (const QStringList& arguments : commands)
                co_await m_context.launcher->runSystemCommand(NetworkSetupCommand::executable, arguments);
            ++succeeded;
        } catch (const std::exception& error) {
            qCWarning(lcAppState, "networksetup failed for '%s': %s", qUtf8Printable(service),
                      qUtf8Printable(describe(error)));
        }
    }
    co_return succeeded;
}

QCoro::Task<int> SystemProxyController::disableProxy(QStringList services)
{
    int succeeded = 0;
    for (const QString& service : services) {
        try {
            for (const Protocol protocol : kProtocols)
                co_await m_context.launcher->runSystemCommand(
                    NetworkSetupCommand::executable, NetworkSetupCommand::setProxyOff(protocol, service));
            ++succeeded;
        } catch (const std::exception& error) {
            qCWarning(lcAppState, "networksetup failed for '%s': %s", qUtf8Printable(service),
                      qUtf8Printable(describe(error)));
        }
    }
    co_return succeeded;
}

QCoro::Task<> SystemProxyController::setDNS(QStringList services, bool tun)
{
    const QStringList servers = tun ? QStringList{tunDNSServer} : QStringList{};
    for (const QString& service : services) {
        try {
            co_await m_context.launcher->runSystemCommand(
                NetworkSetupCommand::executable, NetworkSetupCommand::setDNSServers(service, servers));
        } catch (const std::exception& error) {
            qCWarning(lcAppState, "networksetup -setdnsservers failed for '%s': %s", qUtf8Printable(service),
                      qUtf8Printable(describe(error)));
        }
    }
}

QCoro::Task<> SystemProxyController::setTunMode(bool enabled)
{
    QPointer<SystemProxyController> self(this);
    if (enabled && !m_kernelReady) {
        qCInfo(lcAppState, "TUN mode chosen; it starts once the kernel is ready");
        setTunEnabled(true);
        co_return;
    }
    const bool effective = enabled && !m_suspendedBySSID;
    if (m_kernelReady) {
        const MihomoClient client = m_context.client();
        co_await client.setTunEnabled(effective);
        if (!self)
            co_return;
        // The kernel answers the change at once even when it cannot open the TUN device; its
        // configuration then shows TUN off.
        if (effective && !co_await client.isTunEnabled()) {
            if (!self)
                co_return;
            const QString reason =
                m_context.helperPrivileged && m_context.helperPrivileged()
                    ? QStringLiteral("TUN mode did not start; the kernel's log at %1 says why.")
                          .arg(m_context.kernelLog)
                    : QStringLiteral("TUN mode needs network privileges the helper does not have. Install "
                                     "its privileged mode once with \"pkexec tarnwick-helper "
                                     "--install-privileged\" (or sudo), then turn TUN mode on again.");
            throw AppError(AppError::Kind::operationFailed, reason);
        }
        if (!self)
            co_return;
    }
    const QStringList names = co_await services();
    if (!self)
        co_return;
    co_await setDNS(names, effective);
    if (!self)
        co_return;
    m_tunDNSApplied = effective;
    setTunEnabled(enabled);
    scheduleCacheFlush();
}

QCoro::Task<> SystemProxyController::kernelReady()
{
    m_kernelReady = true;
    if (m_systemProxyEnabled)
        co_await setSystemProxy(true);
    else if (m_tunEnabled)
        co_await setTunMode(true);
}

QCoro::Task<> SystemProxyController::kernelDown()
{
    m_kernelReady = false;
    if (!m_systemProxyApplied)
        co_return;
    QPointer<SystemProxyController> self(this);
    const QStringList names = co_await services();
    if (!self)
        co_return;
    qCInfo(lcAppState, "The kernel is down: the system proxy is off until it runs again");
    co_await disableProxy(names);
    if (self)
        m_systemProxyApplied = false;
}

QCoro::Task<> SystemProxyController::shutdown()
{
    QPointer<SystemProxyController> self(this);
    const bool proxy = m_systemProxyEnabled || m_systemProxyApplied;
    const bool tun = m_tunEnabled || m_tunDNSApplied;
    m_kernelReady = false;
    if (!proxy && !tun)
        co_return;
    const QStringList names = co_await services();
    if (!self)
        co_return;
    if (proxy)
        co_await disableProxy(names);
    if (!self)
        co_return;
    if (tun)
        co_await setDNS(names, false);
    if (!self)
        co_return;
    m_systemProxyApplied = false;
    m_tunDNSApplied = false;
}

void SystemProxyController::scheduleCacheFlush()
{
    flushTask(this, ++m_flushGeneration);
}

QCoro::Task<> SystemProxyController::flushTask(QPointer<SystemProxyController> self, quint64 generation)
{
    try {
        co_await QCoro::sleepFor(flushDelay);
        // A later transition cancelled this flush and runs its own.
        if (!self || self->m_flushGeneration != generation || !self->m_kernelReady)
            co_return;
        const MihomoClient client = self->m_context.client();
        const bool tun = self->m_tunDNSApplied;
        try {
            co_await client.flushDNSCache();
            qCInfo(lcAppState, "DNS cache flushed successfully after state transition.");
            if (tun) {
                co_await client.flushFakeIPCache();
                qCInfo(lcAppState, "Fake IP mappings flushed successfully (TUN is active).");
            }
        } catch (const std::exception& error) {
            qCWarning(lcAppState, "Post-transition cache flush failed: %s", qUtf8Printable(describe(error)));
        }
        if (self)
            Q_EMIT self->cacheFlushed();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Post-transition cache flush failed: %s", qUtf8Printable(describe(error)));
    }
}

} // namespace tarnwick
