#pragma once

#include "CliCommand.h"

namespace tarnwick::cli {

// Each command lives in its own file, named after it.
CliCommand yamlCommand();
CliCommand compileCommand();
CliCommand historyCommand();
// The commands that drive the running application through its control socket.
QList<CliCommand> appCommands();
// Groups and their members, the system proxy and TUN switches.
QList<CliCommand> proxyCommands();
// The open connections and the traffic.
QList<CliCommand> connectionCommands();
CliCommand rulesCommand();
CliCommand profilesCommand();
CliCommand settingsCommand();
CliCommand completionCommand();
CliCommand manpageCommand();

// Every command, in the order the help lists them.
QList<CliCommand> allCommands();

} // namespace tarnwick::cli
