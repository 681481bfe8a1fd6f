#pragma once

#include "config/yaml/NativeValue.h"

#include <QString>
#include <span>

namespace tarnwick {

class Settings;

// The user's engine settings (General, Network, DNS, Sniffer and TUN pages) and the kernel keys they
// become. The pages show each setting's default until the user changes it and only a change writes the
// entry, so "never written" and "written" are told apart here.
namespace EngineSettings {

// How a stored setting becomes a kernel value.
enum class Conversion
{
    Bool,   // as stored; never written: the default
    Text,   // as stored; never written or empty: the default
    Int,    // written only when the stored integer is 1 or more (never written reads as 0)
    List,   // split at commas and line breaks, entries trimmed, empty ones dropped; omitted when none remain
    Ports,  // like List, whole numbers become integers, ranges ("8080-8880") stay text
    Policy, // "pattern = server, server" per line: pattern to the list of servers
    Hosts,  // "domain = address" per line: domain to the address text
    Opt,    // text written only when not empty
    None,   // shown on a settings page but read elsewhere, never compiled
};

struct Setting
{
    const char* key;
    Conversion conversion;
    // Bool: "true"/"false"; texts and lists as the page shows them (lists one entry per line).
    const char* defaultValue;
    // Dotted path of the kernel key; empty for Conversion::None.
    const char* kernelKey;
    // What is written when the conversion yields nothing (Int: below 1; lists: no entry), or null.
    const char* fallback = nullptr;
};

// Every setting of the pages, in page order.
std::span<const Setting> table();
// The entry of `key`, or null.
const Setting* find(const QString& key);

// The mixed port when the user never chose one: compiled, patched live and given to the system proxy alike,
// so that a reload of the compiled configuration never closes the port the readiness patch opened.
constexpr int defaultMixedPort = 7890;

// The private top-level key that carries the QUIC-blocking mode to the compiler.
inline const QString quicBlockModeKey = QStringLiteral("quicBlockMode");

// Reads the settings now and returns the kernel keys they set, nested blocks whole. Never fails.
NativeValue::Dictionary buildOverridesFromDefaults(const Settings& settings);

} // namespace EngineSettings
} // namespace tarnwick
