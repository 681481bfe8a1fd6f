#include "CommandAllowList.h"

#include "config/KernelCommand.h"
#include "platform/NetworkSetupCommand.h"

namespace tarnwick::CommandAllowList {

bool allows(const QString& command, const QStringList& arguments)
{
    if (command == KernelCommand::orphanCleanupCommand)
        return arguments == KernelCommand::orphanCleanupArguments();
    return NetworkSetupCommand::parse(command, arguments).has_value();
}

} // namespace tarnwick::CommandAllowList
