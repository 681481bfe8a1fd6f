#pragma once

#include <QString>
#include <optional>

namespace tarnwick {

// Guesses a proxy node's country from its display name: a flag emoji first, then place names and country
// codes in Chinese and English.
namespace NodeNameParser {

// The two-letter upper-case ISO 3166 code, or absent.
//
// Two-letter codes count only when no other Latin letter touches them ("HK01", "US-LA", "[JP]" and
// "RU_speednode" name countries; "trojan", "auto", "Local", "speednode" and "DisneyPlus" do not): in real
// subscriptions every name that a two-letter code matches only inside a longer word is misread that way.
std::optional<QString> countryCode(const QString& name);

} // namespace NodeNameParser
} // namespace tarnwick
