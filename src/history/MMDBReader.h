#pragma once

#include <QString>
#include <maxminddb.h>
#include <optional>
#include <utility>

namespace tarnwick {

// The country and autonomous-system databases (MaxMind DB files, memory-mapped) the GeoIP resolution
// reads. A file that is missing or not a database is logged and then answers nothing.
class MMDBReader final
{
public:
    explicit MMDBReader(const QString& workDirectory);
    ~MMDBReader();

    MMDBReader(const MMDBReader&) = delete;
    MMDBReader& operator=(const MMDBReader&) = delete;

    // The ISO code at country → iso_code (or a group code such as "CLOUDFLARE").
    std::optional<QString> lookupCountry(const QString& ip);
    // ("AS" + number, organisation), only when both are known.
    std::optional<std::pair<QString, QString>> lookupASN(const QString& ip);

    bool countryOpen() const { return m_countryOpen; }
    bool asnOpen() const { return m_asnOpen; }

private:
    MMDB_s m_countryDB{};
    MMDB_s m_asnDB{};
    bool m_countryOpen = false;
    bool m_asnOpen = false;
};

} // namespace tarnwick
