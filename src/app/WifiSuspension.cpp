#include "WifiSuspension.h"

#include "SystemProxyController.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QPointer>

namespace tarnwick {

namespace {

QCoro::Task<> detached(QPointer<WifiSuspension> self, QString ssid)
{
    try {
        if (self)
            co_await self->networkChanged(ssid);
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Re-applying the proxy modes after a Wi-Fi change failed: %s",
                  qUtf8Printable(describe(error)));
    }
}

} // namespace

WifiSuspension::WifiSuspension(Settings& settings, SystemProxyController& modes, QObject* parent)
    : QObject(parent), m_settings(settings), m_modes(modes)
{}

QStringList WifiSuspension::trustedNames(const QString& setting)
{
    QStringList names;
    for (const QString& piece : setting.split(QLatin1Char(','))) {
        const QString trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            names.append(trimmed);
    }
    return names;
}

QString WifiSuspension::statusText() const
{
    if (!m_suspended)
        return {};
    return m_suspendedSSIDName ? QStringLiteral("Suspended (Wi-Fi: %1)").arg(*m_suspendedSSIDName)
                               : QStringLiteral("Suspended (Wi-Fi)");
}

void WifiSuspension::networkChangedInBackground(const QString& ssid)
{
    detached(this, ssid);
}

QCoro::Task<> WifiSuspension::networkChanged(QString ssid)
{
    const bool suspend = m_settings.boolean(enabledKey, false) && !ssid.isEmpty() &&
                         trustedNames(m_settings.text(trustedKey, QString())).contains(ssid);
    if (suspend == m_suspended) {
        // Moved from one trusted network to another: only the name shown changes.
        if (suspend && m_suspendedSSIDName != ssid) {
            m_suspendedSSIDName = ssid;
            Q_EMIT suspensionChanged();
        }
        co_return;
    }
    qCInfo(lcAppState, "[SmartBypass] State toggled: %d (SSID: %s)", suspend ? 1 : 0,
           ssid.isEmpty() ? "nil" : qUtf8Printable(ssid));
    m_suspended = suspend;
    m_suspendedSSIDName = suspend ? std::optional<QString>(ssid) : std::nullopt;
    m_modes.setSuspendedBySSID(suspend);
    Q_EMIT suspensionChanged();
    QPointer<WifiSuspension> self(this);
    if (m_modes.systemProxyEnabled())
        co_await m_modes.setSystemProxy(true);
    if (self && m_modes.tunEnabled())
        co_await m_modes.setTunMode(true);
}

} // namespace tarnwick
