#pragma once

#include <optional>
#include <sys/types.h>
#include <vector>

namespace tarnwick {

// What the processes the helper starts may do to the machine's network.
namespace NetworkPrivileges {

// Removes network administration (interfaces, routes, TUN devices, raw sockets) from every process the
// helper starts from now on, the kernel included, whatever user it runs as and whatever its configuration
// asks for. Without these privileges in the first place there is nothing to remove.
void withholdFromChildren();

// Whom the privileged helper runs the kernel as: the served user, with the groups the user belongs to.
struct KernelIdentity
{
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};
// Read before a start (the account database cannot be read in a forked child); nothing for an unknown uid.
std::optional<KernelIdentity> identityOf(uid_t uid);

// In a child of the privileged helper, between fork and exec: becomes the user and keeps network
// administration (CAP_NET_ADMIN, CAP_NET_RAW: a TUN device, routes) and nothing else, for the program it
// then runs as well. Async-signal-safe; returns 0 or the errno of the step that failed.
int becomeWithNetworkCapabilities(const KernelIdentity& identity);

} // namespace NetworkPrivileges
} // namespace tarnwick
