#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <array>
#include <map>
#include <optional>
#include <utility>

namespace tarnwick {

// What one `flows` row contributes to the dashboard's figures: its grouping keys and byte counts,
// exactly as stored (texts as UTF-8).
struct FlowFacts
{
    QByteArray profile;
    double tsStart = 0;
    QByteArray node;
    QByteArray host;
    QByteArray rule;
    QByteArray payload;
    // The policy group, present when `chains` holds at least two elements.
    std::optional<QByteArray> group;
    QByteArray sourceIP;
    // COALESCE(NULLIF(destination_ip, ''), target_host)
    QByteArray destination;
    QByteArray remote;
    qint64 tx = 0;
    qint64 rx = 0;
};

// Running totals of the `flows` table per profile, kept exact by the database's writer (every insert,
// close-out and purge updates them in the same step) so that the dashboard's all-time figures and
// calendar windows are read without scanning the table.
//
// Time is kept in 15-minute buckets of the same millisecond SQLite's date functions see, so a bucket
// maps to one local day and hour in every time zone of our time (offsets are whole quarter hours).
class FlowSummary final
{
public:
    static constexpr qint64 kBucketMs = 900000;

    enum Route
    {
        direct,
        reject,
        proxy
    };
    static constexpr int kRouteCount = 3;

    struct Count
    {
        qint64 rows = 0;
        qint64 bytes = 0;
    };
    struct TimeCell
    {
        qint64 rows = 0;
        qint64 tx = 0;
        qint64 rx = 0;
    };
    using TimeBuckets = std::map<qint64, std::array<TimeCell, kRouteCount>>;
    using PairKey = std::pair<QByteArray, QByteArray>;

    struct Partition
    {
        TimeBuckets buckets;
        QHash<QByteArray, Count> hosts;
        QHash<QByteArray, Count> nodes;
        QHash<PairKey, Count> rules;
        QHash<QByteArray, Count> groups; // bytes are downloads only
        QHash<QByteArray, Count> sources;
        QHash<QByteArray, Count> destinations;
        // Proxied flows per remote address and node.
        QHash<QByteArray, QHash<QByteArray, Count>> proxies;
        QHash<QByteArray, Count> remotes; // every non-empty remote address
        // The same, by the country the GeoIP cache gives the address ("Unknown" without a cache row).
        QHash<QString, Count> destinationCountries;
        QHash<std::pair<QString, QByteArray>, Count> proxyCountries;
    };

    // The bucket SQLite's 'unixepoch' modifier puts a time in (its milliseconds, divided).
    static qint64 bucketOf(double tsStart);
    static Route routeOf(const QByteArray& node);

    void add(const FlowFacts& facts);
    void remove(const FlowFacts& facts);
    // A close-out: the row keeps its keys, its byte counts change.
    void settle(const FlowFacts& before, qint64 tx, qint64 rx);
    void clear() { m_partitions.clear(); }

    // The GeoIP cache's country for an address; the first answer stays, as in the cache.
    void addCountry(const QByteArray& address, const QString& country);
    QString countryOf(const QByteArray& address) const;
    bool hasCountry(const QByteArray& address) const { return m_countries.contains(address); }
    void clearCountries() { m_countries.clear(); }

    const QHash<QByteArray, Partition>& partitions() const { return m_partitions; }

private:
    void apply(const FlowFacts& facts, int sign);

    QHash<QByteArray, Partition> m_partitions;
    QHash<QByteArray, QString> m_countries;
};

} // namespace tarnwick
