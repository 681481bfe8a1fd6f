#pragma once

#include <QString>

namespace tarnwick {

// Display names and flags for the country codes and markers of the GeoIP cache.
class CountryFormatter final
{
public:
    // "Local" → "Local Device", "LAN" → "Intranet", CDN and network group codes by name, ISO codes by
    // the region's name; a code nobody knows stays as it is.
    static QString localizedName(const QString& code);
    // The flag of a two-letter region code; the globe for anything else.
    static QString flagEmoji(const QString& code);
    // Flag and name for list rows.
    static QString display(const QString& code);
};

} // namespace tarnwick
