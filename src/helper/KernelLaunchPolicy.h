#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace tarnwick {

// What the helper agrees to start for the user it serves: the kernel of one of that user's workspaces
// (root W) and nothing else.
//   executable  W/core/current or W/core/versions/<version>/mihomo, a regular executable file inside W/core
//               once links are followed, owned by the user or root and writable by no one else;
//   arguments   exactly "-d" W/work "-f" W/work/config.json "-ext-ctl" HOST:PORT;
//   environment only the controller secret's variable;
//   log         W/logs/core.log, in a logs directory of the user's.
// W itself must be a directory of the user's, not a link.
namespace KernelLaunchPolicy {

// Throws HelperError saying which rule the request breaks.
void check(const QString& executable, const QStringList& arguments, const QString& logFile, uid_t user);

// The request's "environment" object as "NAME=value" entries; absent means none. Throws HelperError for a
// variable other than the secret's, or for anything but an object of strings.
QStringList environment(const QJsonValue& value);

} // namespace KernelLaunchPolicy
} // namespace tarnwick
