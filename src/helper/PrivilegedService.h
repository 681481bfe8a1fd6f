#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace tarnwick {

// The helper's privileged mode for TUN: a system service, one instance per user, that runs as root and
// launches that user's kernel as the user with network administration as its only privilege. The user
// installs it once with administrator rights ("pkexec tarnwick-helper --install-privileged", or sudo) and
// removes it the same way with --uninstall-privileged.
namespace PrivilegedService {

struct Options
{
    QString helperExecutable;
    QString unitDirectory = QStringLiteral("/etc/systemd/system");
    QString systemctl = QStringLiteral("systemctl");
    // Where the messages for the person at the terminal go.
    std::function<void(const QString&)> say;
};

inline const QString unitTemplate = QStringLiteral("tarnwick-helper-privileged@.service");
QString unitName(uid_t uid);
// The service's socket; the application uses it for the kernel when it is there.
QString socketPath(uid_t uid);
QString unitFileText(const QString& helperExecutable);

// The user the administrator acts for: pkexec's or sudo's caller; nothing when neither says.
std::optional<uid_t> invokingUser();

// Each returns the process exit status and says what it did or why it failed.
int install(uid_t user, const Options& options);
int uninstall(uid_t user, const Options& options);

} // namespace PrivilegedService
} // namespace tarnwick
