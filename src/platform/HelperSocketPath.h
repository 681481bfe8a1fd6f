#pragma once

#include <QString>

namespace tarnwick {

// Where the helper listens and the application connects.
namespace HelperSocketPath {

// $TARNWICK_HELPER_SOCKET when set; else "helper.sock" in $XDG_RUNTIME_DIR/tarnwick; without a runtime
// directory, in /tmp/tarnwick-<uid>.
QString defaultPath();

// Creates the directory with mode 0700 when it is missing (parents as needed); false when that fails.
// An existing directory is left as it is: the helper decides whether it is private enough.
bool createPrivateDirectory(const QString& directory);

} // namespace HelperSocketPath
} // namespace tarnwick
