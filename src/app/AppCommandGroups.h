#pragma once

#include "AppCommand.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QPointer>

namespace tarnwick {

class AppState;

// The control socket's commands, grouped by what they touch; AppCommandHandler dispatches to them.
namespace AppCommandGroups {

using Function = QCoro::Task<AppResponse> (*)(QPointer<AppState>, AppCommand);

// Importing, updating, renaming and deleting profiles.
QHash<QString, Function> profileCommands();
// The running kernel's groups, connections and traffic, and the system proxy and TUN switches.
QHash<QString, Function> liveCommands();
// Reading and changing the settings.
QHash<QString, Function> settingsCommands();

} // namespace AppCommandGroups
} // namespace tarnwick
