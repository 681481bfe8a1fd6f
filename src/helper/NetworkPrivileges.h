#pragma once

namespace tarnwick {

// What the processes the helper starts may do to the machine's network.
namespace NetworkPrivileges {

// Removes network administration (interfaces, routes, TUN devices, raw sockets) from every process the
// helper starts from now on, the kernel included, whatever user it runs as and whatever its configuration
// asks for. Without these privileges in the first place there is nothing to remove.
void withholdFromChildren();

} // namespace NetworkPrivileges
} // namespace tarnwick
