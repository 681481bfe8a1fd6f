#pragma once

namespace tarnwick {

// The whole tarnwick-helper executable: options, the socket, the event loop. Exit status 1 when the
// helper cannot listen.
int runHelper(int argc, char** argv);

} // namespace tarnwick
