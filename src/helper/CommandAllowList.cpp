#include "CommandAllowList.h"

#include "platform/NetworkSetupCommand.h"

namespace tarnwick::CommandAllowList {

bool allows(const QString& command, const QStringList& arguments)
{
    return NetworkSetupCommand::parse(command, arguments).has_value();
}

} // namespace tarnwick::CommandAllowList
