#pragma once

namespace tarnwick {

// The whole tarnwick-app executable: options, the application object, AppState, the event loop.
int runApplication(int argc, char** argv);

} // namespace tarnwick
