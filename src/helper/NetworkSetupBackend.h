#pragma once

#include "DesktopProxySettings.h"
#include "NetworkDns.h"
#include "platform/NetworkSetupCommand.h"

#include <QJsonObject>
#include <QObject>
#include <memory>
#include <vector>

class QTimer;

namespace tarnwick {

// Carries out the network-setup commands on Linux, and makes sure the user's network is never left
// pointing at a kernel that is gone. The desktop proxy is the user's desktop's (GNOME, KDE, each where
// present) and the same for every service; DNS is per service.
//
// Before the first change it saves what the user had in a file of the helper's runtime directory,
// together with the application process that asked. Switching every protocol off (or DNS back to
// automatic) writes the saved values back and drops them. When that application process ends while a
// change is still in place, everything saved is written back at once; a helper started later finds the
// file and does the same.
class NetworkSetupBackend final : public QObject
{
    Q_OBJECT

public:
    NetworkSetupBackend(QString stateFile, std::vector<std::unique_ptr<DesktopProxySettings>> desktops,
                        NetworkDns dns, QObject* parent = nullptr);
    // GNOME's and KDE's settings where present, NetworkManager or systemd-resolved for DNS.
    static std::unique_ptr<NetworkSetupBackend> forThisSession(QString stateFile, QObject* parent = nullptr);

    // Throws HelperError with what failed. `client`: the pid of the application process that asks.
    void run(const NetworkSetupCommand::Command& command, qint64 client);

    // Writes back everything saved and drops it. Failures are logged.
    void restore();
    bool hasSavedState() const;

    // How often a recorded application process is checked for.
    static constexpr std::chrono::milliseconds clientCheckInterval{250};

private:
    QJsonObject load() const;
    void save(const QJsonObject& state);
    void remember(QJsonObject& state, qint64 client);
    void checkClient();
    void proxyOff(QJsonObject& state, NetworkSetupCommand::Protocol protocol);
    static void writeBack(DesktopProxySettings& desktop, const QJsonObject& saved,
                          DesktopProxySettings::Part part);

    QString m_stateFile;
    std::vector<std::unique_ptr<DesktopProxySettings>> m_desktops;
    NetworkDns m_dns;
    QTimer* m_clientTimer;
};

// Whether the process runs and is the one that had that start time (pids are reused).
namespace ProcessIdentity {
// The process's start time in clock ticks since boot (field 22 of /proc/pid/stat), or -1.
qint64 startTime(qint64 pid);
bool isAlive(qint64 pid, qint64 startTime);
} // namespace ProcessIdentity

} // namespace tarnwick
