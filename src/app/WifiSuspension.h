#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <optional>

namespace tarnwick {

class Settings;
class SystemProxyController;

// Suspends the system proxy and TUN mode while the machine is on a Wi-Fi network the user trusts
// ("enableSmartBypass", "trustedSSIDs"). Decides on every change of the network's name; the user's own
// choices of the two modes stay as they are. Main thread only.
class WifiSuspension final : public QObject
{
    Q_OBJECT

public:
    WifiSuspension(Settings& settings, SystemProxyController& modes, QObject* parent = nullptr);

    bool isSuspendedBySSID() const { return m_suspended; }
    const std::optional<QString>& suspendedSSIDName() const { return m_suspendedSSIDName; }
    // "Suspended (Wi-Fi: name)" or "Suspended (Wi-Fi)" while suspended; empty otherwise.
    QString statusText() const;

    // The network's name changed (empty: not on Wi-Fi). Returns once the modes are re-applied.
    QCoro::Task<> networkChanged(QString ssid);
    // The same, as a task of its own that logs any failure.
    void networkChangedInBackground(const QString& ssid);

    // The trusted names of a "trustedSSIDs" value: split at ',', trimmed, empty ones dropped.
    static QStringList trustedNames(const QString& setting);

    static inline const QString enabledKey = QStringLiteral("enableSmartBypass");
    static inline const QString trustedKey = QStringLiteral("trustedSSIDs");

Q_SIGNALS:
    void suspensionChanged();

private:
    Settings& m_settings;
    SystemProxyController& m_modes;
    bool m_suspended = false;
    std::optional<QString> m_suspendedSSIDName;
};

} // namespace tarnwick
