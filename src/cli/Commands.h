#pragma once

#include "CliCommand.h"

namespace tarnwick::cli {

// Each command lives in its own file, named after it.
CliCommand yamlCommand();
CliCommand compileCommand();
CliCommand historyCommand();

} // namespace tarnwick::cli
