#pragma once

#include "platform/HelperRegistration.h"

#include <QString>

namespace tarnwick {
class Settings;
}

namespace tarnwick::test {

// Settings for an application under test: geodata and release feeds at `unreachable` (a local server
// that answers 404), the controller and the mixed port on free ports.
void prepareAppSettings(Settings& settings, const QString& unreachable);
// The real helper as the tests run it: started by the application itself (there is no systemd user
// manager), its socket in `directory`/run.
HelperRegistration::Options helperOptions(const QString& directory);

} // namespace tarnwick::test
