#pragma once

namespace tarnwick::cli {

// The whole `tarnwick` command-line tool; returns the exit status.
int runCli(int argc, char** argv);

} // namespace tarnwick::cli
