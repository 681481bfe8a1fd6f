#include "UserAccount.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

namespace tarnwick {

std::optional<UserAccount> UserAccount::lookup(uid_t uid)
{
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(bufferSize > 0 ? bufferSize : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    UserAccount account;
    account.uid = entry.pw_uid;
    account.gid = entry.pw_gid;
    account.name = entry.pw_name;
    account.home = entry.pw_dir;
    int count = 16;
    account.groups.resize(static_cast<size_t>(count));
    while (::getgrouplist(entry.pw_name, entry.pw_gid, account.groups.data(), &count) < 0)
        account.groups.resize(static_cast<size_t>(count));
    account.groups.resize(static_cast<size_t>(count));
    return account;
}

FileSystemIdentity::FileSystemIdentity(const std::optional<UserAccount>& account)
{
    if (!account)
        return;
    // Each call returns the previous value; the group first, while the uid still allows changing it.
    m_previousGid = static_cast<gid_t>(::setfsgid(account->gid));
    m_previousUid = static_cast<uid_t>(::setfsuid(account->uid));
    m_changed = true;
}

FileSystemIdentity::~FileSystemIdentity()
{
    if (!m_changed)
        return;
    ::setfsuid(m_previousUid);
    ::setfsgid(m_previousGid);
}

} // namespace tarnwick
