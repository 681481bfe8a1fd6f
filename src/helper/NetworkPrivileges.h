#pragma once

#include "UserAccount.h"

namespace tarnwick {

// What the processes the helper starts may do to the machine's network.
namespace NetworkPrivileges {

// Removes network administration (interfaces, routes, TUN devices, raw sockets) from every process the
// helper starts from now on, the kernel included, whatever user it runs as and whatever its configuration
// asks for. Without these privileges in the first place there is nothing to remove.
void withholdFromChildren();

// In a child of the privileged helper, between fork and exec: becomes the user (the account is read before
// the fork; the account database cannot be read in a forked child) and keeps network administration
// (CAP_NET_ADMIN, CAP_NET_RAW: a TUN device, routes) and nothing else, for the program it then runs as
// well. Async-signal-safe; returns 0 or the errno of the step that failed.
int becomeWithNetworkCapabilities(const UserAccount& user);

// In a child, between fork and exec: becomes the user with no privileges at all. Async-signal-safe;
// returns 0 or the errno of the step that failed.
int become(const UserAccount& user);

} // namespace NetworkPrivileges
} // namespace tarnwick
