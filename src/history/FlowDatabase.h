#pragma once

#include "FlowDatabaseError.h"
#include "FlowRow.h"
#include "FlowSql.h"
#include "FlowStatistics.h"
#include "FlowSummary.h"
#include "controller/FlowRecorder.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QList>
#include <limits>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarnwick {

class FlowQueue;

// The persistent traffic history: one row per connection in "Database/flows.db" below the workspace
// root, and the GeoIP cache. Every statement runs on one serial worker thread; writes are queued and
// return at once, reads wait for their turn and so see every write queued before them.
//
// A batch's new rows are held until the batch ends and inserted then, in the order they were
// recorded: a connection that opens and closes within one batch (most do, on a busy kernel) is
// inserted once, already closed out, instead of inserted and then looked up and updated.
//
// The dashboard's figures are answered from running totals the writer keeps exact (`FlowSummary`);
// `Answering::direct` answers every query by scanning `flows` instead, the reference they must equal.
class FlowDatabase final : public FlowRecorder
{
public:
    enum class Answering
    {
        summarised,
        direct
    };

    // Throws FlowDatabaseError, or WorkspaceError when the directory cannot be made.
    explicit FlowDatabase(const QString& workspaceRoot, Answering answering = Answering::summarised);
    ~FlowDatabase() override;

    FlowDatabase(const FlowDatabase&) = delete;
    FlowDatabase& operator=(const FlowDatabase&) = delete;

    QString filePath() const { return m_path; }

    // Writes (queued).
    void recordOpened(const ConnectionItem& item, qint64 sessionID, const QString& profileName) override;
    void recordClosed(const ConnectionItem& item) override;
    void purge(const QDateTime& olderThan);
    void vacuum();
    void insertGeoCache(const QList<GeoCacheEntry>& entries);

    // Reads (wait for the queue).
    int rowCount();
    // Bytes of flows.db and flows.db-wal together.
    qint64 fileSize() const;
    std::optional<GeoCacheEntry> cachedGeo(const QString& ip);
    QStringList unresolvedIPs(int limit);
    QList<RuleHits> ruleHitCounts(const std::optional<QString>& profileName);

    // The dashboard's analytics; `since`/`until` bound ts_start, `profileName` filters by profile.
    using Profile = std::optional<QString>;
    QList<NamedBytes> trafficByProcess(const QDateTime& since, const Profile& profile, int limit);
    QList<NamedBytes> trafficByDomain(const QDateTime& since, const Profile& profile, int limit);
    QList<NamedBytes> trafficByNode(const QDateTime& since, const Profile& profile, int limit);
    QList<NamedBytes> trafficByPolicyGroup(const QDateTime& since, const Profile& profile, int limit);
    QList<RuleHits> topRules(const QDateTime& since, const Profile& profile, int limit);
    TrafficTotals totalTraffic(const QDateTime& since, const std::optional<QDateTime>& until,
                               const Profile& profile);
    QList<NamedBytes> trafficByRoute(const QDateTime& since, const Profile& profile);
    QList<DailyRouteBytes> dailyTrafficByRoute(const QDateTime& since, const Profile& profile);
    QList<HourlyRouteBytes> hourlyTrafficByRoute(const QDateTime& since,
                                                 const std::optional<QDateTime>& until,
                                                 const Profile& profile);
    int uniqueDomainCount(const QDateTime& since, const Profile& profile);
    int connectionCount(const QDateTime& since, const Profile& profile);
    QList<NamedBytes> trafficByNetwork(const QDateTime& since, const Profile& profile);
    QList<NamedBytes> trafficBySourceIP(const QDateTime& since, const Profile& profile, int limit);
    QList<NamedBytes> trafficByDestinationCountry(const QDateTime& since, const Profile& profile, int limit);
    QList<NamedBytes> trafficByProxyCountry(const QDateTime& since, const Profile& profile, int limit);
    QList<FlightPath> trafficForFlightPaths(const QDateTime& since, const Profile& profile);

    // The start of time for all-time figures.
    static QDateTime distantPast();

private:
    void open();
    void closeHandles();
    void createSchema();
    void prepareStatements();
    void loadCaches();
    struct Settlement
    {
        qint64 tx = 0;
        qint64 rx = 0;
        double at = 0;
    };
    struct StagedFlow
    {
        FlowRow row;
        std::optional<Settlement> end;
    };
    void stageRow(FlowRow row);
    void insertStaged();
    void insertRow(const StagedFlow& staged);
    void settleRow(const QByteArray& connectionID, qint64 tx, qint64 rx);
    bool storedRowAfter(const QByteArray& connectionID, double tsStart);
    void purgeRows(double cutoff);
    std::optional<FlowFacts> factsOfNewest(const QByteArray& connectionID);
    std::optional<sqlite3_int64> newestRowOf(const QByteArray& connectionID);
    bool useSummary(const flowsql::Window& window);
    QList<const FlowSummary::Partition*> partitionsFor(const Profile& profile) const;
    struct TimeSlice;
    template <typename Visit>
    void forEachTimeSlice(const flowsql::Window& window, bool labelled, Visit&& visit);
    QList<NamedBytes> proxyCountries(const QList<std::tuple<QString, qint64, QString>>& rows,
                                     int limit) const;
    QList<FlightPath> flightPaths(const QList<std::tuple<QString, QString, qint64, QString>>& rows) const;
    static QString nodeCountryOr(const QString& country, const QString& node);
    void rebuildSummary();
    void endBatch();

    QString m_path;
    Answering m_answering;
    sqlite3* m_db = nullptr;
    std::unique_ptr<FlowQueue> m_queue;
    sqlite3_stmt* m_insertStmt = nullptr;
    sqlite3_stmt* m_settleStmt = nullptr;
    sqlite3_stmt* m_insertClosedStmt = nullptr;
    sqlite3_stmt* m_laterRowStmt = nullptr;
    sqlite3_stmt* m_newestStmt = nullptr;
    sqlite3_stmt* m_newestRowStmt = nullptr;
    // Owned by the queue's thread.
    FlowSummary m_summary;
    bool m_summaryValid = false;
    // The flows this process opened and has not closed out yet, with what they added to the totals: a
    // close-out takes them from here instead of reading the row back, once the index confirms the row
    // is still the newest of its connection id.
    struct OpenFlow
    {
        sqlite3_int64 row = 0;
        FlowFacts facts;
    };
    QHash<QByteArray, OpenFlow> m_openFlows;
    // The batch's rows not inserted yet, and for each connection id the one a close-out would touch
    // among them (the latest start; of equal starts, the later recorded).
    std::vector<StagedFlow> m_staged;
    QHash<QByteArray, size_t> m_stagedByID;
    // No stored row starts later than this (an upper bound: purges and rollbacks only lower the truth).
    double m_latestStoredStart = std::numeric_limits<double>::infinity();
};

} // namespace tarnwick
