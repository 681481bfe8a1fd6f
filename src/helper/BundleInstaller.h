#pragma once

#include <QString>
#include <sys/types.h>

namespace tarnwick {

// Puts a new application bundle in place of the installed one for the user the helper serves, and does
// nothing that user could not do: both bundles and the directory holding the installed one must be that
// user's real directories (no symbolic links anywhere in the new bundle, every entry the user's).
// The new bundle is copied beside the installed one and swapped in with one rename, so the installed path
// always holds a whole bundle; the old one is removed afterwards.
namespace BundleInstaller {

// Throws HelperError naming the rule broken or the step that failed; the installed bundle is then as it
// was.
void install(const QString& sourcePath, const QString& targetPath, uid_t user);

} // namespace BundleInstaller
} // namespace tarnwick
