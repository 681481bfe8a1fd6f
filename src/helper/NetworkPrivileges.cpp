#include "NetworkPrivileges.h"

#include "platform/Logging.h"

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarnwick {

namespace {

constexpr int kNetworkCapabilities[] = {CAP_NET_ADMIN, CAP_NET_RAW};

} // namespace

void NetworkPrivileges::withholdFromChildren()
{
    // A capability left out of the bounding set can never come back, not through the executable's file
    // capabilities nor through running as root; the inheritable and ambient sets could carry it across an
    // exec by themselves, so they lose it as well.
    for (const int capability : kNetworkCapabilities) {
        if (::prctl(PR_CAPBSET_READ, capability) == 1 && ::prctl(PR_CAPBSET_DROP, capability) != 0 &&
            errno != EPERM)
            qCWarning(lcHelper, "Cannot withhold capability %d from the kernel: %s", capability,
                      std::strerror(errno));
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, capability, 0, 0);
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    for (const int capability : kNetworkCapabilities)
        data[CAP_TO_INDEX(capability)].inheritable &= ~CAP_TO_MASK(capability);
    ::syscall(SYS_capset, &header, data);
}

} // namespace tarnwick
