#pragma once

#include <QStringList>

namespace tarnwick {

class Settings;

// The runtime configuration takes ports, log level, DNS, TUN and the like from the settings, not from the
// profile. When a profile sets such keys, these notes say, once per key, which setting decides it now and
// how to change it, so that nothing the user wrote is dropped silently.
namespace SettingsNotice {

// One line per key of the profile that a setting decides, in the order of their names; empty when there is
// none or the profile cannot be read (compiling it reports that).
QStringList forProfile(const QString& profileFile, const Settings& settings);

} // namespace SettingsNotice
} // namespace tarnwick
