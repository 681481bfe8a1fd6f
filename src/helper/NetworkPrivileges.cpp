#include "NetworkPrivileges.h"

#include "platform/Logging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <grp.h>
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

int NetworkPrivileges::becomeWithNetworkCapabilities(const UserAccount& user)
{
    // While still root: out of the bounding set goes everything else, so that not even an executable
    // run as root could get it back.
    for (int capability = 0; capability <= CAP_LAST_CAP; ++capability) {
        const bool kept = std::find(std::begin(kNetworkCapabilities), std::end(kNetworkCapabilities),
                                    capability) != std::end(kNetworkCapabilities);
        if (!kept && ::prctl(PR_CAPBSET_DROP, capability) != 0 && errno != EINVAL)
            return errno;
    }
    if (::setgroups(user.groups.size(), user.groups.data()) != 0 ||
        ::setresgid(user.gid, user.gid, user.gid) != 0)
        return errno;
    // Across the change of user the permitted set stays; then it is cut down to the two.
    if (::prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0 || ::setresuid(user.uid, user.uid, user.uid) != 0)
        return errno;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    for (const int capability : kNetworkCapabilities) {
        data[CAP_TO_INDEX(capability)].permitted |= CAP_TO_MASK(capability);
        data[CAP_TO_INDEX(capability)].effective |= CAP_TO_MASK(capability);
        data[CAP_TO_INDEX(capability)].inheritable |= CAP_TO_MASK(capability);
    }
    if (::syscall(SYS_capset, &header, data) != 0)
        return errno;
    // The ambient set carries them across exec into a program without file capabilities.
    for (const int capability : kNetworkCapabilities) {
        if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, capability, 0, 0) != 0)
            return errno;
    }
    return 0;
}

int NetworkPrivileges::become(const UserAccount& user)
{
    if (::setgroups(user.groups.size(), user.groups.data()) != 0 ||
        ::setresgid(user.gid, user.gid, user.gid) != 0 || ::setresuid(user.uid, user.uid, user.uid) != 0)
        return errno;
    return 0;
}

} // namespace tarnwick
