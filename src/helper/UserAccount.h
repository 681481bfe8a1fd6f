#pragma once

#include <QByteArray>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace tarnwick {

// The user a helper serves, as the account database knows it: what a kernel started for that user runs as.
struct UserAccount
{
    uid_t uid = 0;
    gid_t gid = 0;
    QByteArray name;
    QByteArray home;
    std::vector<gid_t> groups; // supplementary groups, the primary one included

    // Nothing when the account database has no such user.
    static std::optional<UserAccount> lookup(uid_t uid);
};

// While it lives, the calling thread reaches the file system with the user's identity (Linux file-system
// uid and gid): whatever it creates belongs to the user, and no path can lead it where the user could not
// go. Without an account it changes nothing.
class FileSystemIdentity final
{
public:
    explicit FileSystemIdentity(const std::optional<UserAccount>& account);
    ~FileSystemIdentity();
    FileSystemIdentity(const FileSystemIdentity&) = delete;
    FileSystemIdentity& operator=(const FileSystemIdentity&) = delete;

private:
    bool m_changed = false;
    uid_t m_previousUid = 0;
    gid_t m_previousGid = 0;
};

} // namespace tarnwick
