#pragma once

#include <QCoro/QCoroTask>
#include <QStringList>

namespace tarnwick {

// The network services whose proxy and DNS settings the application switches.
class NetworkServices
{
public:
    virtual ~NetworkServices() = default;
    // The names of the enabled services, in the system's order.
    virtual QCoro::Task<QStringList> enabledServices() = 0;
};

// NetworkManager's active connections (read through nmcli, never changed here), or the single service
// "System" on a machine without NetworkManager, when it cannot be asked or has no connection up.
class LinuxNetworkServices final : public NetworkServices
{
public:
    QCoro::Task<QStringList> enabledServices() override;
};

} // namespace tarnwick
