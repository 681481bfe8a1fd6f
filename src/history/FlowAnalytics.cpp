// The dashboard's analytic queries of FlowDatabase. Each has its plain SQL (the reference, and the
// answer for windows the running totals cannot serve) and, where the dashboard needs it quickly, an
// answer from the running totals that equals it.
#include "FlowDatabase.h"
#include "FlowQueue.h"
#include "controller/NodeNameParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <limits>

namespace tarnwick {

using namespace flowsql;

namespace {

// The bucket of a row as SQLite computes it, for the rows a time window's edges must scan.
constexpr const char* kBucketExpr =
    "((CAST(ts_start * 1000.0 + 210866760000000.0 + 0.5 AS INTEGER) - 210866760000000) / 900000)";

// Rows of a bucket lie within this much of its nominal bounds (rounding to the millisecond).
constexpr double kSlack = 0.001;

const QString kRoutes[] = {QStringLiteral("Direct"), QStringLiteral("Reject"), QStringLiteral("Proxy")};

QString routeCase(int indent)
{
    QString text = QString::fromLatin1(kRouteCase);
    if (indent > 0)
        text.replace(QStringLiteral("\n"), QStringLiteral("\n") + QString(indent, u' '));
    return text;
}

// ORDER BY total DESC LIMIT ?, ties by name so equal figures come out in a stable order; only the
// rows kept are turned into text.
template <typename Key>
QList<NamedBytes> topOf(const QHash<Key, qint64>& totals, int limit,
                        const std::function<QString(const Key&)>& name)
{
    std::vector<std::pair<qint64, const Key*>> order;
    order.reserve(size_t(totals.size()));
    for (auto it = totals.begin(); it != totals.end(); ++it)
        order.emplace_back(it.value(), &it.key());
    const auto before = [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : *a.second < *b.second;
    };
    const size_t kept = limit >= 0 ? std::min(order.size(), size_t(limit)) : order.size();
    std::partial_sort(order.begin(), order.begin() + qsizetype(kept), order.end(), before);
    QList<NamedBytes> rows;
    rows.reserve(qsizetype(kept));
    for (size_t i = 0; i < kept; ++i)
        rows.append(NamedBytes{name(*order[i].second), quint64(order[i].first)});
    return rows;
}

QString utf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

NamedBytes namedBytes(sqlite3_stmt* s)
{
    return NamedBytes{text(s, 0), quint64(sqlite3_column_int64(s, 1))};
}

int firstInt(sqlite3_stmt* s)
{
    return sqlite3_column_int(s, 0);
}

RuleHits ruleHits(sqlite3_stmt* s)
{
    return RuleHits{text(s, 0), text(s, 1), sqlite3_column_int(s, 2)};
}

// Runs `select` + the window's clause + `rest`, bound with the window's parameters and then the limit,
// when there is one; `read` makes one result of each row.
template <typename Read>
auto windowRows(sqlite3* db, const QString& select, const Window& w, const QString& rest,
                std::optional<int> limit, Read read)
{
    QList<std::invoke_result_t<Read, sqlite3_stmt*>> rows;
    QList<Param> params = w.params();
    if (limit)
        params.append(*limit);
    forEachRow(db, select + w.clause() + rest, params, [&](sqlite3_stmt* s) { rows.append(read(s)); });
    return rows;
}

// One running-totals table summed over the partitions, the largest first.
template <typename Key>
QList<NamedBytes> topOfTable(const QList<const FlowSummary::Partition*>& partitions,
                             QHash<Key, FlowSummary::Count> FlowSummary::Partition::*table, int limit,
                             bool skipEmpty = false)
{
    QHash<Key, qint64> totals;
    for (const FlowSummary::Partition* p : partitions)
        for (auto it = (p->*table).begin(); it != (p->*table).end(); ++it)
            if (!skipEmpty || !it.key().isEmpty())
                totals[it.key()] += it->bytes;
    return topOf<Key>(totals, limit, [](const Key& key) {
        if constexpr (std::is_same_v<Key, QString>)
            return key;
        else
            return QString::fromUtf8(key);
    });
}

// Bucket numbers fit 32 bits until the year 60 000; an open end is the largest.
int boundBucket(qint64 bucket)
{
    return int(std::clamp<qint64>(bucket, 0, std::numeric_limits<int>::max()));
}

// Splits at "-" at most twice, dropping empty pieces.
QStringList splitPath(const QString& key)
{
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < key.size() && pieces.size() < 2; ++i) {
        if (key[i] != u'-')
            continue;
        if (i > start)
            pieces.append(key.mid(start, i - start));
        start = i + 1;
    }
    if (start < key.size())
        pieces.append(key.mid(start));
    return pieces;
}

} // namespace

struct FlowDatabase::TimeSlice
{
    int route;
    qint64 rows;
    qint64 tx;
    qint64 rx;
    QString day;
    int hour;
};

QList<const FlowSummary::Partition*> FlowDatabase::partitionsFor(const Profile& profile) const
{
    QList<const FlowSummary::Partition*> result;
    const auto& all = m_summary.partitions();
    if (profile) {
        const auto it = all.find(profile->toUtf8());
        if (it != all.end())
            result.append(&*it);
        return result;
    }
    for (const FlowSummary::Partition& p : all)
        result.append(&p);
    return result;
}

bool FlowDatabase::useSummary(const Window& window)
{
    if (!m_summaryValid || window.until)
        return false;
    // The totals answer a window only when it holds every row of the profile.
    QString sql = QStringLiteral("SELECT MIN(ts_start) FROM flows");
    QList<Param> params;
    if (window.profile) {
        sql += QStringLiteral(" WHERE profile_name = ?");
        params.append(*window.profile);
    }
    bool covers = true;
    forEachRow(m_db, sql, params, [&](sqlite3_stmt* s) {
        covers = sqlite3_column_type(s, 0) == SQLITE_NULL || window.since <= sqlite3_column_double(s, 0);
    });
    return covers;
}

template <typename Visit> void FlowDatabase::forEachTimeSlice(const Window& w, bool labelled, Visit&& visit)
{
    constexpr double bucketSeconds = FlowSummary::kBucketMs / 1000.0;
    constexpr qint64 noEnd = std::numeric_limits<qint64>::max();
    // Buckets whose every row lies inside the window; buckets up to 0 straddle 1970 and are scanned.
    const qint64 lo = std::max<qint64>(1, qint64(std::ceil((w.since + kSlack) / bucketSeconds)));
    const qint64 hi = w.until ? qint64(std::floor(*w.until / bucketSeconds)) - 1 : noEnd;
    const double until = w.until.value_or(std::numeric_limits<double>::infinity());

    struct Range
    {
        double from;
        double to;
        qint64 excludeLo;
        qint64 excludeHi;
    };
    QList<Range> ranges;
    using Cells = std::array<FlowSummary::TimeCell, FlowSummary::kRouteCount>;
    const auto addCells = [](Cells& sum, const Cells& cells) {
        for (int r = 0; r < FlowSummary::kRouteCount; ++r) {
            sum[r].rows += cells[r].rows;
            sum[r].tx += cells[r].tx;
            sum[r].rx += cells[r].rx;
        }
    };
    // Without labels the buckets add up to one figure per route.
    Cells flat{};
    std::map<qint64, Cells> full;
    if (lo <= hi) {
        ranges.append({w.since, std::min(until, double(lo) * bucketSeconds + kSlack), lo, hi});
        if (hi != noEnd)
            ranges.append({std::max(w.since, double(hi + 1) * bucketSeconds - kSlack), until, lo, hi});
        for (const FlowSummary::Partition* p : partitionsFor(w.profile)) {
            for (auto it = p->buckets.lower_bound(lo); it != p->buckets.end() && it->first <= hi; ++it)
                addCells(labelled ? full[it->first] : flat, it->second);
        }
    } else {
        ranges.append({w.since, until, 1, 0});
    }

    // Local day and hour of each bucket; a bucket that a clock change cuts is scanned row by row.
    QHash<qint64, std::pair<QString, int>> labels;
    if (!full.empty()) {
        QJsonArray ids;
        for (const auto& entry : full)
            ids.append(double(entry.first));
        const QString sql = QStringLiteral(
            "SELECT value, strftime('%Y-%m-%d %H %s', value * 900, 'unixepoch', 'localtime'),\n"
            "       strftime('%Y-%m-%d %H %s', value * 900 + 899, 'unixepoch', 'localtime')\n"
            "FROM json_each(?)");
        const QString json = QString::fromUtf8(QJsonDocument(ids).toJson(QJsonDocument::Compact));
        forEachRow(m_db, sql, {json}, [&](sqlite3_stmt* s) {
            const qint64 bucket = sqlite3_column_int64(s, 0);
            const QByteArray first = bytes(s, 1);
            const QByteArray last = bytes(s, 2);
            // Same day and hour at both ends, and the same offset from UTC (no clock change between).
            const qint64 offsetFirst = first.mid(14).toLongLong() - bucket * 900;
            const qint64 offsetLast = last.mid(14).toLongLong() - (bucket * 900 + 899);
            if (first.size() > 14 && first.left(13) == last.left(13) && offsetFirst == offsetLast)
                labels.insert(bucket, {QString::fromLatin1(first.left(10)), first.mid(11, 2).toInt()});
        });
        for (const auto& entry : full) {
            if (!labels.contains(entry.first)) {
                const double from = double(entry.first) * bucketSeconds;
                ranges.append({from - kSlack, from + bucketSeconds, entry.first, entry.first});
            }
        }
    }
    for (const auto& [bucket, cells] : full) {
        const auto label = labels.constFind(bucket);
        if (label == labels.cend())
            continue;
        for (int r = 0; r < FlowSummary::kRouteCount; ++r) {
            if (cells[r].rows > 0)
                visit(TimeSlice{r, cells[r].rows, cells[r].tx, cells[r].rx, label->first, label->second});
        }
    }
    for (int r = 0; r < FlowSummary::kRouteCount; ++r) {
        if (flat[r].rows > 0)
            visit(TimeSlice{r, flat[r].rows, flat[r].tx, flat[r].rx, QString(), 0});
    }

    // The rows at the window's edges and in cut buckets, straight from the table.
    QString sql =
        QStringLiteral("SELECT tx_bytes, rx_bytes, outbound_node, date(ts_start, 'unixepoch', "
                       "'localtime'),\n       CAST(strftime('%H', ts_start, 'unixepoch', 'localtime') "
                       "AS INTEGER)\nFROM flows WHERE ts_start >= ? AND ts_start < ?");
    if (w.profile)
        sql += QStringLiteral(" AND profile_name = ?");
    const QString excluded =
        sql + QStringLiteral(" AND NOT (") + QLatin1String(kBucketExpr) + QStringLiteral(" BETWEEN ? AND ?)");
    const QString exactly =
        sql + QStringLiteral(" AND ") + QLatin1String(kBucketExpr) + QStringLiteral(" = ?");
    for (const Range& range : ranges) {
        if (!(range.from < range.to))
            continue;
        QList<Param> params{range.from, range.to};
        if (w.profile)
            params.append(*w.profile);
        const bool cut = range.excludeLo == range.excludeHi;
        params.append(boundBucket(range.excludeLo));
        if (!cut)
            params.append(boundBucket(range.excludeHi));
        forEachRow(m_db, cut ? exactly : excluded, params, [&](sqlite3_stmt* s) {
            const int route = FlowSummary::routeOf(bytes(s, 2));
            visit(TimeSlice{route, 1, sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1), text(s, 3),
                            sqlite3_column_int(s, 4)});
        });
    }
}

QList<NamedBytes> FlowDatabase::trafficByProcess(const QDateTime& since, const Profile& profile, int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        return windowRows(
            m_db, QStringLiteral("SELECT process, SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "), w,
            QStringLiteral(" AND process != ''\nGROUP BY process ORDER BY total DESC LIMIT ?"), limit,
            namedBytes);
    });
}

QList<NamedBytes> FlowDatabase::trafficByDomain(const QDateTime& since, const Profile& profile, int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (useSummary(w)) {
            return topOfTable(partitionsFor(profile), &FlowSummary::Partition::hosts, limit);
        }
        return windowRows(
            m_db, QStringLiteral("SELECT target_host, SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "),
            w, QStringLiteral("\nGROUP BY target_host ORDER BY total DESC LIMIT ?"), limit, namedBytes);
    });
}

QList<NamedBytes> FlowDatabase::trafficByNode(const QDateTime& since, const Profile& profile, int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (useSummary(w)) {
            return topOfTable(partitionsFor(profile), &FlowSummary::Partition::nodes, limit, true);
        }
        return windowRows(
            m_db,
            QStringLiteral("SELECT outbound_node, SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "), w,
            QStringLiteral(" AND outbound_node != ''\nGROUP BY outbound_node ORDER BY total DESC LIMIT ?"),
            limit, namedBytes);
    });
}

QList<NamedBytes> FlowDatabase::trafficByPolicyGroup(const QDateTime& since, const Profile& profile,
                                                     int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (useSummary(w)) {
            return topOfTable(partitionsFor(profile), &FlowSummary::Partition::groups, limit);
        }
        return windowRows(
            m_db,
            QStringLiteral("SELECT json_extract(chains, '$[1]') as policy_group, SUM(rx_bytes) as "
                           "download\nFROM flows WHERE "),
            w,
            QStringLiteral(" AND chains != '[]'\n      AND json_array_length(chains) >= 2\nGROUP "
                           "BY policy_group ORDER BY download DESC LIMIT ?"),
            limit, namedBytes);
    });
}

QList<RuleHits> FlowDatabase::topRules(const QDateTime& since, const Profile& profile, int limit)
{
    return m_queue->sync<QList<RuleHits>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        QList<RuleHits> rows;
        if (useSummary(w)) {
            QHash<FlowSummary::PairKey, qint64> hits;
            for (const FlowSummary::Partition* p : partitionsFor(profile))
                for (auto it = p->rules.begin(); it != p->rules.end(); ++it)
                    if (!it.key().first.isEmpty())
                        hits[it.key()] += it->rows;
            for (auto it = hits.begin(); it != hits.end(); ++it)
                rows.append(RuleHits{utf8(it.key().first), utf8(it.key().second), int(it.value())});
            std::sort(rows.begin(), rows.end(), [](const RuleHits& a, const RuleHits& b) {
                return a.count != b.count ? a.count > b.count
                                          : std::tie(a.rule, a.payload) < std::tie(b.rule, b.payload);
            });
            if (limit >= 0 && rows.size() > limit)
                rows.resize(limit);
            return rows;
        }
        return windowRows(
            m_db, QStringLiteral("SELECT rule, rule_payload, COUNT(*) as hits\nFROM flows WHERE "), w,
            QStringLiteral(" AND rule != ''\nGROUP BY rule, rule_payload ORDER BY hits DESC LIMIT ?"), limit,
            ruleHits);
    });
}

QList<RuleHits> FlowDatabase::ruleHitCounts(const std::optional<QString>& profile)
{
    return m_queue->sync<QList<RuleHits>>([=, this] {
        QList<RuleHits> rows;
        if (m_summaryValid) {
            QMap<FlowSummary::PairKey, qint64> hits;
            for (const FlowSummary::Partition* p : partitionsFor(profile))
                for (auto it = p->rules.begin(); it != p->rules.end(); ++it)
                    if (!it.key().first.isEmpty())
                        hits[it.key()] += it->rows;
            for (auto it = hits.begin(); it != hits.end(); ++it)
                rows.append(RuleHits{utf8(it.key().first), utf8(it.key().second), int(it.value())});
            return rows;
        }
        QString sql =
            QStringLiteral("SELECT rule, rule_payload, COUNT(*) as hits\nFROM flows WHERE rule != ''");
        QList<Param> params;
        if (profile) {
            sql += QStringLiteral(" AND profile_name = ?");
            params.append(*profile);
        }
        sql += QStringLiteral("\nGROUP BY rule, rule_payload");
        forEachRow(m_db, sql, params, [&](sqlite3_stmt* s) { rows.append(ruleHits(s)); });
        return rows;
    });
}

TrafficTotals FlowDatabase::totalTraffic(const QDateTime& since, const std::optional<QDateTime>& until,
                                         const Profile& profile)
{
    return m_queue->sync<TrafficTotals>([=, this] {
        const Window w{secondsOf(since), until ? std::optional(secondsOf(*until)) : std::nullopt, profile};
        qint64 tx = 0;
        qint64 rx = 0;
        if (m_summaryValid) {
            forEachTimeSlice(w, false, [&](const TimeSlice& slice) {
                tx += slice.tx;
                rx += slice.rx;
            });
        } else {
            std::tie(tx, rx) =
                windowRows(m_db, QStringLiteral("SELECT SUM(tx_bytes), SUM(rx_bytes) FROM flows WHERE "), w,
                           {}, std::nullopt,
                           [](sqlite3_stmt* s) {
                               return std::pair(sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1));
                           })
                    .value(0);
        }
        return TrafficTotals{quint64(tx), quint64(rx)};
    });
}

QList<NamedBytes> FlowDatabase::trafficByRoute(const QDateTime& since, const Profile& profile)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (m_summaryValid) {
            QHash<int, qint64> totals;
            forEachTimeSlice(w, false,
                             [&](const TimeSlice& slice) { totals[slice.route] += slice.tx + slice.rx; });
            return topOf<int>(totals, -1, [](const int& route) { return kRoutes[route]; });
        }
        return windowRows(
            m_db,
            QStringLiteral("SELECT\n    ") + routeCase(0) +
                QStringLiteral(" as route,\n    SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "),
            w, QStringLiteral("\nGROUP BY route ORDER BY total DESC"), std::nullopt, namedBytes);
    });
}

QList<DailyRouteBytes> FlowDatabase::dailyTrafficByRoute(const QDateTime& since, const Profile& profile)
{
    return m_queue->sync<QList<DailyRouteBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        QList<DailyRouteBytes> rows;
        if (m_summaryValid) {
            QMap<std::pair<QString, QString>, qint64> totals;
            forEachTimeSlice(w, true, [&](const TimeSlice& slice) {
                totals[{slice.day, kRoutes[slice.route]}] += slice.tx + slice.rx;
            });
            for (auto it = totals.begin(); it != totals.end(); ++it)
                rows.append(DailyRouteBytes{it.key().first, it.key().second, quint64(it.value())});
            return rows;
        }
        return windowRows(
            m_db,
            QStringLiteral("SELECT date(ts_start, 'unixepoch', 'localtime') as day,\n       ") +
                routeCase(3) +
                QStringLiteral(" as route,\n       SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "),
            w, QStringLiteral("\nGROUP BY day, route\nORDER BY day"), std::nullopt, [](sqlite3_stmt* s) {
                return DailyRouteBytes{text(s, 0), text(s, 1), quint64(sqlite3_column_int64(s, 2))};
            });
    });
}

QList<HourlyRouteBytes> FlowDatabase::hourlyTrafficByRoute(const QDateTime& since,
                                                           const std::optional<QDateTime>& until,
                                                           const Profile& profile)
{
    return m_queue->sync<QList<HourlyRouteBytes>>([=, this] {
        const Window w{secondsOf(since), until ? std::optional(secondsOf(*until)) : std::nullopt, profile};
        QList<HourlyRouteBytes> rows;
        if (m_summaryValid) {
            QMap<std::pair<int, QString>, qint64> totals;
            forEachTimeSlice(w, true, [&](const TimeSlice& slice) {
                totals[{slice.hour, kRoutes[slice.route]}] += slice.tx + slice.rx;
            });
            for (auto it = totals.begin(); it != totals.end(); ++it)
                rows.append(HourlyRouteBytes{it.key().first, it.key().second, quint64(it.value())});
            return rows;
        }
        return windowRows(
            m_db,
            QStringLiteral("SELECT CAST(strftime('%H', ts_start, 'unixepoch', 'localtime') AS INTEGER) as "
                           "hr,\n       ") +
                routeCase(3) +
                QStringLiteral(" as route,\n       SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "),
            w, QStringLiteral("\nGROUP BY hr, route\nORDER BY hr"), std::nullopt, [](sqlite3_stmt* s) {
                return HourlyRouteBytes{sqlite3_column_int(s, 0), text(s, 1),
                                        quint64(sqlite3_column_int64(s, 2))};
            });
    });
}

int FlowDatabase::uniqueDomainCount(const QDateTime& since, const Profile& profile)
{
    return m_queue->sync<int>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (useSummary(w)) {
            const auto partitions = partitionsFor(profile);
            if (partitions.size() == 1)
                return int(partitions.first()->hosts.size());
            QSet<QByteArray> hosts;
            for (const FlowSummary::Partition* p : partitionsFor(profile))
                for (auto it = p->hosts.keyBegin(); it != p->hosts.keyEnd(); ++it)
                    hosts.insert(*it);
            return int(hosts.size());
        }
        return windowRows(m_db, QStringLiteral("SELECT COUNT(DISTINCT target_host) FROM flows WHERE "), w, {},
                          std::nullopt, firstInt)
            .value(0);
    });
}

int FlowDatabase::connectionCount(const QDateTime& since, const Profile& profile)
{
    return m_queue->sync<int>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (m_summaryValid) {
            qint64 count = 0;
            forEachTimeSlice(w, false, [&](const TimeSlice& slice) { count += slice.rows; });
            return int(count);
        }
        return windowRows(m_db, QStringLiteral("SELECT COUNT(*) FROM flows WHERE "), w, {}, std::nullopt,
                          firstInt)
            .value(0);
    });
}

QList<NamedBytes> FlowDatabase::trafficByNetwork(const QDateTime& since, const Profile& profile)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        return windowRows(
            m_db, QStringLiteral("SELECT network, SUM(tx_bytes + rx_bytes) as total\nFROM flows WHERE "), w,
            QStringLiteral("\nGROUP BY network ORDER BY total DESC"), std::nullopt, namedBytes);
    });
}

QList<NamedBytes> FlowDatabase::trafficBySourceIP(const QDateTime& since, const Profile& profile, int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (useSummary(w)) {
            return topOfTable(partitionsFor(profile), &FlowSummary::Partition::sources, limit);
        }
        return windowRows(
            m_db,
            QStringLiteral("SELECT f.source_ip,\n       SUM(f.tx_bytes + f.rx_bytes) as total\nFROM "
                           "flows f\nWHERE "),
            w,
            QStringLiteral("\n  AND f.source_ip IS NOT NULL AND f.source_ip != ''\nGROUP BY "
                           "f.source_ip ORDER BY total DESC LIMIT ?"),
            limit, namedBytes);
    });
}

QList<NamedBytes> FlowDatabase::trafficByDestinationCountry(const QDateTime& since, const Profile& profile,
                                                            int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        if (useSummary(w)) {
            return topOfTable(partitionsFor(profile), &FlowSummary::Partition::destinationCountries, limit);
        }
        return windowRows(
            m_db,
            QStringLiteral(
                "SELECT COALESCE(g.country, 'Unknown') as c, SUM(f.tx_bytes + f.rx_bytes) as total\nFROM "
                "flows f\nLEFT JOIN geoip_cache g ON g.ip = COALESCE(NULLIF(f.destination_ip, ''), "
                "f.target_host)\nWHERE "),
            w,
            QStringLiteral(
                " AND COALESCE(NULLIF(f.destination_ip, ''), f.target_host) != ''\nGROUP BY c ORDER "
                "BY total DESC LIMIT ?"),
            limit, namedBytes);
    });
}

QString FlowDatabase::nodeCountryOr(const QString& country, const QString& node)
{
    if (country != QLatin1String("Unknown") || node.isEmpty())
        return country;
    return NodeNameParser::countryCode(node).value_or(QStringLiteral("Unknown"));
}

QList<NamedBytes> FlowDatabase::proxyCountries(const QList<std::tuple<QString, qint64, QString>>& rows,
                                               int limit) const
{
    QHash<QString, qint64> totals;
    for (const auto& [country, total, node] : rows)
        totals[nodeCountryOr(country, node)] += total;
    return topOf<QString>(totals, std::max(limit, 0), [](const QString& c) { return c; });
}

QList<NamedBytes> FlowDatabase::trafficByProxyCountry(const QDateTime& since, const Profile& profile,
                                                      int limit)
{
    return m_queue->sync<QList<NamedBytes>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        QList<std::tuple<QString, qint64, QString>> rows;
        if (useSummary(w)) {
            QHash<std::pair<QString, QByteArray>, qint64> grouped;
            for (const FlowSummary::Partition* p : partitionsFor(profile))
                for (auto it = p->proxyCountries.begin(); it != p->proxyCountries.end(); ++it)
                    grouped[it.key()] += it->bytes;
            for (auto it = grouped.begin(); it != grouped.end(); ++it)
                rows.append({it.key().first, it.value(), utf8(it.key().second)});
        } else {
            rows = windowRows(
                m_db,
                QStringLiteral(
                    "SELECT COALESCE(g.country, 'Unknown') as c, SUM(f.tx_bytes + f.rx_bytes) as total, "
                    "f.outbound_node\nFROM flows f\nLEFT JOIN geoip_cache g ON f.remote_destination = "
                    "g.ip\nWHERE "),
                w,
                QStringLiteral(" AND f.remote_destination != ''\n  AND f.outbound_node NOT IN ('DIRECT', "
                               "'REJECT')\nGROUP BY c, f.outbound_node ORDER BY total DESC"),
                std::nullopt, [](sqlite3_stmt* s) {
                    return std::tuple(text(s, 0), qint64(sqlite3_column_int64(s, 1)), text(s, 2));
                });
        }
        return proxyCountries(rows, limit);
    });
}

QList<FlightPath>
FlowDatabase::flightPaths(const QList<std::tuple<QString, QString, qint64, QString>>& rows) const
{
    QHash<QString, qint64> totals;
    for (const auto& [proxy, destination, total, node] : rows)
        totals[QStringLiteral("CN-") + nodeCountryOr(proxy, node) + u'-' + destination] += total;
    QList<FlightPath> paths;
    const QString unknown = QStringLiteral("Unknown");
    for (auto it = totals.begin(); it != totals.end(); ++it) {
        const QStringList pieces = splitPath(it.key());
        FlightPath path{QStringLiteral("CN"), unknown, unknown, quint64(it.value())};
        if (!pieces.isEmpty())
            path.clientCountry = pieces[0];
        if (pieces.size() > 1)
            path.proxyCountry = pieces[1];
        if (pieces.size() > 2)
            path.destCountry = pieces[2];
        paths.append(path);
    }
    std::sort(paths.begin(), paths.end(), [](const FlightPath& a, const FlightPath& b) {
        if (qint64(a.bytes) != qint64(b.bytes))
            return qint64(a.bytes) > qint64(b.bytes);
        return std::tie(a.proxyCountry, a.destCountry) < std::tie(b.proxyCountry, b.destCountry);
    });
    return paths;
}

QList<FlightPath> FlowDatabase::trafficForFlightPaths(const QDateTime& since, const Profile& profile)
{
    return m_queue->sync<QList<FlightPath>>([=, this] {
        const Window w{secondsOf(since), std::nullopt, profile};
        return flightPaths(windowRows(
            m_db,
            QStringLiteral(
                "SELECT \n    CASE WHEN f.outbound_node IN ('DIRECT', 'REJECT') THEN 'DIRECT'\n         "
                "ELSE COALESCE(g_proxy.country, 'Unknown') END as p,\n    COALESCE(g_dest.country, "
                "'Unknown') as d,\n    SUM(f.tx_bytes + f.rx_bytes) as total,\n    f.outbound_node\nFROM "
                "flows f\nLEFT JOIN geoip_cache g_proxy ON f.remote_destination = g_proxy.ip\nLEFT JOIN "
                "geoip_cache g_dest ON g_dest.ip = COALESCE(NULLIF(f.destination_ip, ''), "
                "f.target_host)\nWHERE "),
            w, QStringLiteral("\nGROUP BY p, d, f.outbound_node\nORDER BY total DESC"), std::nullopt,
            [](sqlite3_stmt* s) {
                return std::tuple(text(s, 0), text(s, 1), qint64(sqlite3_column_int64(s, 2)), text(s, 3));
            }));
    });
}

} // namespace tarnwick
