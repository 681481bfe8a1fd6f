#include "FlowSummary.h"

#include <algorithm>

namespace tarnwick {

namespace {

// Julian day 0 in milliseconds before 1970, as SQLite's date functions count.
constexpr double kEpochJulianMs = 210866760000000.0;

template <typename Key>
void count(QHash<Key, FlowSummary::Count>& table, const Key& key, int sign, qint64 bytes)
{
    FlowSummary::Count& cell = table[key];
    cell.rows += sign;
    cell.bytes += sign * bytes;
    if (cell.rows == 0)
        table.remove(key);
}

template <typename Key> void addBytes(QHash<Key, FlowSummary::Count>& table, const Key& key, qint64 delta)
{
    const auto it = table.find(key);
    if (it != table.end())
        it->bytes += delta;
}

bool isProxied(const QByteArray& node)
{
    return node != "DIRECT" && node != "REJECT";
}

} // namespace

qint64 FlowSummary::bucketOf(double tsStart)
{
    // The same arithmetic as SQLite: round to the millisecond of the Julian day, truncate.
    const auto julianMs = static_cast<qint64>(tsStart * 1000.0 + kEpochJulianMs + 0.5);
    return (julianMs - static_cast<qint64>(kEpochJulianMs)) / kBucketMs;
}

FlowSummary::Route FlowSummary::routeOf(const QByteArray& node)
{
    if (node == "DIRECT")
        return direct;
    if (node == "REJECT")
        return reject;
    return proxy;
}

void FlowSummary::add(const FlowFacts& facts)
{
    apply(facts, 1);
}

void FlowSummary::remove(const FlowFacts& facts)
{
    apply(facts, -1);
}

void FlowSummary::apply(const FlowFacts& f, int sign)
{
    Partition& p = m_partitions[f.profile];
    const qint64 bytes = f.tx + f.rx;

    const qint64 bucket = bucketOf(f.tsStart);
    auto& cells = p.buckets[bucket];
    TimeCell& cell = cells[routeOf(f.node)];
    cell.rows += sign;
    cell.tx += sign * f.tx;
    cell.rx += sign * f.rx;
    if (std::all_of(cells.begin(), cells.end(), [](const TimeCell& c) { return c.rows == 0; }))
        p.buckets.erase(bucket);

    count(p.hosts, f.host, sign, bytes);
    count(p.nodes, f.node, sign, bytes);
    count(p.rules, PairKey(f.rule, f.payload), sign, 0);
    if (f.group)
        count(p.groups, *f.group, sign, f.rx);
    if (!f.sourceIP.isEmpty())
        count(p.sources, f.sourceIP, sign, bytes);
    if (!f.destination.isEmpty()) {
        count(p.destinations, f.destination, sign, bytes);
        count(p.destinationCountries, countryOf(f.destination), sign, bytes);
    }
    if (!f.remote.isEmpty() && isProxied(f.node)) {
        auto& nodes = p.proxies[f.remote];
        count(nodes, f.node, sign, bytes);
        if (nodes.isEmpty())
            p.proxies.remove(f.remote);
        count(p.proxyCountries, std::pair(countryOf(f.remote), f.node), sign, bytes);
    }
    if (!f.remote.isEmpty())
        count(p.remotes, f.remote, sign, bytes);

    if (p.buckets.empty() && p.hosts.isEmpty())
        m_partitions.remove(f.profile);
}

void FlowSummary::settle(const FlowFacts& f, qint64 tx, qint64 rx)
{
    const auto found = m_partitions.find(f.profile);
    if (found == m_partitions.end())
        return;
    Partition& p = *found;
    const qint64 dTx = tx - f.tx;
    const qint64 dRx = rx - f.rx;
    const qint64 delta = dTx + dRx;

    const auto bucket = p.buckets.find(bucketOf(f.tsStart));
    if (bucket != p.buckets.end()) {
        TimeCell& cell = bucket->second[routeOf(f.node)];
        cell.tx += dTx;
        cell.rx += dRx;
    }
    addBytes(p.hosts, f.host, delta);
    addBytes(p.nodes, f.node, delta);
    if (f.group)
        addBytes(p.groups, *f.group, dRx);
    if (!f.sourceIP.isEmpty())
        addBytes(p.sources, f.sourceIP, delta);
    if (!f.destination.isEmpty()) {
        addBytes(p.destinations, f.destination, delta);
        addBytes(p.destinationCountries, countryOf(f.destination), delta);
    }
    if (!f.remote.isEmpty() && isProxied(f.node)) {
        const auto nodes = p.proxies.find(f.remote);
        if (nodes != p.proxies.end())
            addBytes(*nodes, f.node, delta);
        addBytes(p.proxyCountries, std::pair(countryOf(f.remote), f.node), delta);
    }
    if (!f.remote.isEmpty())
        addBytes(p.remotes, f.remote, delta);
}

QString FlowSummary::countryOf(const QByteArray& address) const
{
    return m_countries.value(address, QStringLiteral("Unknown"));
}

void FlowSummary::addCountry(const QByteArray& address, const QString& country)
{
    if (m_countries.contains(address))
        return;
    const QString unknown = QStringLiteral("Unknown");
    m_countries.insert(address, country);
    if (country == unknown)
        return;
    // Flows already counted under "Unknown" move to the country.
    const auto move = [](auto& table, const auto& from, const auto& to, const Count& moved) {
        Count& source = table[from];
        source.rows -= moved.rows;
        source.bytes -= moved.bytes;
        if (source.rows == 0)
            table.remove(from);
        Count& target = table[to];
        target.rows += moved.rows;
        target.bytes += moved.bytes;
    };
    for (Partition& p : m_partitions) {
        const auto destination = p.destinations.constFind(address);
        if (destination != p.destinations.cend())
            move(p.destinationCountries, unknown, country, *destination);
        const auto nodes = p.proxies.constFind(address);
        if (nodes == p.proxies.cend())
            continue;
        for (auto it = nodes->begin(); it != nodes->end(); ++it)
            move(p.proxyCountries, std::pair(unknown, it.key()), std::pair(country, it.key()), *it);
    }
}

} // namespace tarnwick
