#pragma once

#include <QString>
#include <optional>

namespace tarnwick {

// Where the helper listens and the application connects.
namespace HelperSocketPath {

// $TARNWICK_HELPER_SOCKET when set; else "helper.sock" in $XDG_RUNTIME_DIR/tarnwick; without a runtime
// directory, in /tmp/tarnwick-<uid>.
QString defaultPath();

// The privileged helper of the user (a system service, for TUN mode): "helper.sock" in
// /run/tarnwick-privileged/<uid>.
inline const QString privilegedRoot = QStringLiteral("/run/tarnwick-privileged");
QString privilegedPath(unsigned int uid);

// Creates the directory with mode 0700 when it is missing (parents as needed); false when that fails.
// An existing directory is left as it is: the helper decides whether it is private enough.
bool createPrivateDirectory(const QString& directory);

// Why the application must not talk through a socket in this directory: it is not its own with mode 0700
// (another local user could have made it first and listen there). Nothing when it is trusted or absent.
std::optional<QString> distrust(const QString& directory);

// Why the application must not talk to the process at the other end of the connected socket: it runs as
// neither the application's user nor root. Nothing when it may be trusted.
std::optional<QString> distrustPeer(int fd, const QString& socketPath);

} // namespace HelperSocketPath
} // namespace tarnwick
