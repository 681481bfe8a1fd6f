#include "CommandAllowList.h"

#include "config/KernelCommand.h"

namespace tarnwick::CommandAllowList {

bool allows(const QString& command, const QStringList& arguments)
{
    return command == KernelCommand::orphanCleanupCommand &&
           arguments == KernelCommand::orphanCleanupArguments();
}

} // namespace tarnwick::CommandAllowList
