#pragma once

#include <QString>

namespace tarnwick {

// Points the core/current link at a kernel executable.
class RuntimeSwitcher final
{
public:
    // Replaces whatever is at the link path (a link, dangling or not, or a file) with a link to `target`
    // in one rename, so the link is never missing. Throws RuntimeError::fsOperationFailed
    // "Failed to switch symlink: <reason>".
    static void switchTo(const QString& target, const QString& currentSymlinkPath);
};

} // namespace tarnwick
