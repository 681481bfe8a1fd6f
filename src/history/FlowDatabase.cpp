#include "FlowDatabase.h"

#include "FlowQueue.h"
#include "config/WorkspaceError.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <charconv>

namespace tarnwick {

using namespace flowsql;

namespace {

constexpr const char* kSchema = R"(CREATE TABLE IF NOT EXISTS flows (
    id INTEGER PRIMARY KEY,
    connection_id TEXT NOT NULL,
    session_id INTEGER NOT NULL DEFAULT 0,
    process TEXT NOT NULL DEFAULT '',
    process_path TEXT NOT NULL DEFAULT '',
    target_host TEXT NOT NULL,
    target_port INTEGER NOT NULL,
    network TEXT NOT NULL DEFAULT 'tcp',
    rule TEXT,
    rule_payload TEXT,
    outbound_node TEXT,
    chains TEXT,
    inbound_type TEXT,
    inbound_name TEXT,
    destination_ip TEXT,
    sniff_host TEXT,
    remote_destination TEXT,
    tx_bytes INTEGER DEFAULT 0,
    rx_bytes INTEGER DEFAULT 0,
    ts_start REAL NOT NULL,
    ts_end REAL,
    profile_name TEXT NOT NULL DEFAULT '',
    close_reason TEXT
);
CREATE INDEX IF NOT EXISTS idx_flows_ts ON flows(ts_start);
CREATE INDEX IF NOT EXISTS idx_flows_process ON flows(process);
CREATE INDEX IF NOT EXISTS idx_flows_host ON flows(target_host);
CREATE INDEX IF NOT EXISTS idx_flows_node ON flows(outbound_node);
CREATE INDEX IF NOT EXISTS idx_flows_cid ON flows(connection_id, ts_start);
CREATE INDEX IF NOT EXISTS idx_flows_profile ON flows(profile_name, ts_start);)";

constexpr const char* kGeoSchema = R"(CREATE TABLE IF NOT EXISTS geoip_cache (
    ip TEXT PRIMARY KEY,
    country TEXT NOT NULL DEFAULT 'Unknown',
    asn TEXT,
    org TEXT,
    updated_at REAL NOT NULL
))";

constexpr const char* kInsert =
    "INSERT INTO flows\n"
    "    (connection_id, session_id,\n"
    "     process, process_path, target_host, target_port, network,\n"
    "     rule, rule_payload, outbound_node, chains,\n"
    "     inbound_type, inbound_name, destination_ip, sniff_host, remote_destination,\n"
    "     tx_bytes, rx_bytes, ts_start, profile_name, source_ip)\n"
    "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

// A row recorded and closed out within one batch, inserted as the close-out would leave it.
constexpr const char* kInsertClosed =
    "INSERT INTO flows\n"
    "    (connection_id, session_id,\n"
    "     process, process_path, target_host, target_port, network,\n"
    "     rule, rule_payload, outbound_node, chains,\n"
    "     inbound_type, inbound_name, destination_ip, sniff_host, remote_destination,\n"
    "     tx_bytes, rx_bytes, ts_start, profile_name, source_ip, ts_end, close_reason)\n"
    "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

constexpr const char* kSettle =
    "UPDATE flows SET tx_bytes=?, rx_bytes=?, ts_end=?, close_reason=?\n"
    "WHERE id = (SELECT id FROM flows WHERE connection_id=? ORDER BY ts_start DESC LIMIT 1)";

// What a row contributes to the running totals, in FlowFacts order.
constexpr const char* kFactColumns =
    "profile_name, ts_start, outbound_node, target_host, rule, rule_payload,\n"
    "    chains != '[]' AND json_array_length(chains) >= 2, json_extract(chains, '$[1]'),\n"
    "    source_ip, COALESCE(NULLIF(destination_ip, ''), target_host), remote_destination, tx_bytes, "
    "rx_bytes";

// Whether a stored row of the connection id starts later than a staged one, and so is the one a
// close-out touches.
constexpr const char* kLaterRow = "SELECT 1 FROM flows WHERE connection_id=? AND ts_start>? LIMIT 1";

// Which row the close-out statement touches: its subquery.
constexpr const char* kNewestRow =
    "SELECT id FROM flows WHERE connection_id=? ORDER BY ts_start DESC LIMIT 1";

// Flows opened and never closed out (the kernel stopped, the application quit) stay at most this many.
constexpr qsizetype kOpenFlowLimit = 100000;

// The row the close-out statement touches: the same subquery.
const QByteArray kNewest = QByteArray("SELECT ") + kFactColumns +
                           "\nFROM flows WHERE id = (SELECT id FROM flows WHERE connection_id=? ORDER BY "
                           "ts_start DESC LIMIT 1)";

FlowFacts readFacts(sqlite3_stmt* s)
{
    FlowFacts f;
    f.profile = bytes(s, 0);
    f.tsStart = sqlite3_column_double(s, 1);
    f.node = bytes(s, 2);
    f.host = bytes(s, 3);
    f.rule = bytes(s, 4);
    f.payload = bytes(s, 5);
    if (sqlite3_column_int(s, 6) != 0)
        f.group = bytes(s, 7);
    f.sourceIP = bytes(s, 8);
    f.destination = bytes(s, 9);
    f.remote = bytes(s, 10);
    f.tx = sqlite3_column_int64(s, 11);
    f.rx = sqlite3_column_int64(s, 12);
    return f;
}

QString errorMessage(sqlite3* db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("unknown");
}

// The shortest decimal text that reads back as the same double.
QByteArray shortestDecimal(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, int(result.ptr - buffer));
}

} // namespace

FlowDatabase::FlowDatabase(const QString& workspaceRoot, Answering answering) : m_answering(answering)
{
    m_queue = std::make_unique<FlowQueue>(FlowQueue::Hooks{
        [this] { exec(m_db, "BEGIN"); },
        [this] { endBatch(); },
    });
    const QString directory = QDir(workspaceRoot).filePath(QStringLiteral("Database"));
    if (!QDir().mkpath(directory))
        throw WorkspaceError(QStringLiteral("Could not create the directory ") + directory);
    m_path = QDir(directory).filePath(QStringLiteral("flows.db"));
    // Opening and preparing run on the queue like every other statement; errors travel back here.
    std::exception_ptr failure = m_queue->sync<std::exception_ptr>([this]() -> std::exception_ptr {
        try {
            open();
            return nullptr;
        } catch (...) {
            return std::current_exception();
        }
    });
    if (failure) {
        m_queue.reset();
        closeHandles();
        std::rethrow_exception(failure);
    }
}

FlowDatabase::~FlowDatabase()
{
    m_queue->shutdown();
    closeHandles();
}

void FlowDatabase::closeHandles()
{
    sqlite3_finalize(m_insertStmt);
    sqlite3_finalize(m_settleStmt);
    sqlite3_finalize(m_newestStmt);
    sqlite3_finalize(m_newestRowStmt);
    sqlite3_finalize(m_insertClosedStmt);
    sqlite3_finalize(m_laterRowStmt);
    sqlite3_close(m_db);
}

QDateTime FlowDatabase::distantPast()
{
    // 0001-01-01T00:00:00Z, the start of every all-time figure.
    return QDateTime::fromMSecsSinceEpoch(-62135596800000LL, Qt::UTC);
}

void FlowDatabase::open()
{
    const QByteArray path = QFile::encodeName(m_path);
    if (sqlite3_open_v2(path.constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        throw FlowDatabaseError(FlowDatabaseError::Case::openFailed, errorMessage(m_db));
    createSchema();
    prepareStatements();
    loadCaches();
}

void FlowDatabase::createSchema()
{
    exec(m_db, "PRAGMA journal_mode=WAL");
    exec(m_db, "PRAGMA synchronous=NORMAL");
    // Recording touches six indexes at scattered places; a cache that holds their working set saves
    // most reads of the log and the file (the pages are taken as used, up to 16 MB).
    exec(m_db, "PRAGMA cache_size=-16384");
    exec(m_db, kSchema);
    exec(m_db, "ALTER TABLE flows ADD COLUMN source_ip TEXT");
    exec(m_db, kGeoSchema);
}

void FlowDatabase::prepareStatements()
{
    const auto prepare = [this](const char* sql, sqlite3_stmt** statement, const char* what) {
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) != SQLITE_OK)
            throw FlowDatabaseError(FlowDatabaseError::Case::prepareFailed,
                                    QLatin1String(what) + QStringLiteral(": ") + errorMessage(m_db));
    };
    prepare(kInsert, &m_insertStmt, "INSERT prepare");
    prepare(kSettle, &m_settleStmt, "UPDATE prepare");
    prepare(kNewest.constData(), &m_newestStmt, "SELECT prepare");
    prepare(kNewestRow, &m_newestRowStmt, "SELECT prepare");
    prepare(kInsertClosed, &m_insertClosedStmt, "INSERT prepare");
    prepare(kLaterRow, &m_laterRowStmt, "SELECT prepare");
}

void FlowDatabase::loadCaches()
{
    m_latestStoredStart = std::numeric_limits<double>::infinity();
    forEachRow(m_db, QStringLiteral("SELECT MAX(ts_start) FROM flows"), {}, [this](sqlite3_stmt* s) {
        m_latestStoredStart = sqlite3_column_type(s, 0) == SQLITE_NULL
                                  ? -std::numeric_limits<double>::infinity()
                                  : sqlite3_column_double(s, 0);
    });
    m_summary.clearCountries();
    forEachRow(m_db, QStringLiteral("SELECT ip, country FROM geoip_cache"), {},
               [this](sqlite3_stmt* s) { m_summary.addCountry(bytes(s, 0), text(s, 1)); });
    rebuildSummary();
}

void FlowDatabase::rebuildSummary()
{
    m_summary.clear();
    m_summaryValid = false;
    if (m_answering == Answering::direct)
        return;
    const QString sql =
        QStringLiteral("SELECT ") + QLatin1String(kFactColumns) + QStringLiteral(" FROM flows");
    m_summaryValid = forEachRow(m_db, sql, {}, [this](sqlite3_stmt* s) { m_summary.add(readFacts(s)); });
    if (!m_summaryValid)
        m_summary.clear();
}

void FlowDatabase::endBatch()
{
    insertStaged();
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        // The batch is lost; the totals must follow what the file holds.
        exec(m_db, "ROLLBACK");
        m_openFlows.clear();
        loadCaches();
    }
}

void FlowDatabase::recordOpened(const ConnectionItem& item, qint64 sessionID, const QString& profileName)
{
    FlowRow row = FlowRow::from(item, sessionID, profileName);
    m_queue->post([this, row = std::move(row)]() mutable { stageRow(std::move(row)); });
}

void FlowDatabase::recordClosed(const ConnectionItem& item)
{
    m_queue->post(
        [this, id = item.id.toUtf8(), tx = item.upload, rx = item.download] { settleRow(id, tx, rx); });
}

void FlowDatabase::purge(const QDateTime& olderThan)
{
    const double cutoff = secondsOf(olderThan);
    m_queue->post([this, cutoff] { purgeRows(cutoff); });
}

void FlowDatabase::vacuum()
{
    m_queue->post([this] {
        // VACUUM cannot run inside the batch's transaction.
        endBatch();
        exec(m_db, "PRAGMA wal_checkpoint(TRUNCATE)");
        exec(m_db, "VACUUM");
        exec(m_db, "BEGIN");
    });
}

void FlowDatabase::stageRow(FlowRow row)
{
    const auto found = m_stagedByID.constFind(row.connectionID);
    if (found == m_stagedByID.cend() || m_staged[*found].row.tsStart <= row.tsStart)
        m_stagedByID.insert(row.connectionID, m_staged.size());
    m_staged.push_back(StagedFlow{std::move(row), std::nullopt});
}

void FlowDatabase::insertStaged()
{
    for (const StagedFlow& staged : m_staged)
        insertRow(staged);
    m_staged.clear();
    m_stagedByID.clear();
}

void FlowDatabase::insertRow(const StagedFlow& staged)
{
    const FlowRow& row = staged.row;
    sqlite3_stmt* s = staged.end ? m_insertClosedStmt : m_insertStmt;
    sqlite3_reset(s);
    bindBorrowedText(s, 1, row.connectionID);
    sqlite3_bind_int64(s, 2, row.sessionID);
    bindBorrowedText(s, 3, row.process);
    bindBorrowedText(s, 4, row.processPath);
    bindBorrowedText(s, 5, row.targetHost);
    sqlite3_bind_int(s, 6, row.targetPort);
    bindBorrowedText(s, 7, row.network);
    bindBorrowedText(s, 8, row.rule);
    bindBorrowedText(s, 9, row.rulePayload);
    bindBorrowedText(s, 10, row.outboundNode);
    bindBorrowedText(s, 11, row.chains);
    bindBorrowedText(s, 12, row.inboundType);
    bindBorrowedText(s, 13, row.inboundName);
    bindBorrowedText(s, 14, row.destinationIP);
    bindBorrowedText(s, 15, row.sniffHost);
    bindBorrowedText(s, 16, row.remoteDestination);
    const qint64 tx = staged.end ? staged.end->tx : row.txBytes;
    const qint64 rx = staged.end ? staged.end->rx : row.rxBytes;
    sqlite3_bind_int64(s, 17, tx);
    sqlite3_bind_int64(s, 18, rx);
    sqlite3_bind_double(s, 19, row.tsStart);
    bindBorrowedText(s, 20, row.profileName);
    bindBorrowedText(s, 21, row.sourceIP);
    if (staged.end) {
        sqlite3_bind_double(s, 22, staged.end->at);
        bindBorrowedText(s, 23, QByteArrayLiteral("vanished"));
    }
    if (sqlite3_step(s) != SQLITE_DONE)
        return;
    m_latestStoredStart = std::max(m_latestStoredStart, row.tsStart);
    if (!m_summaryValid)
        return;
    FlowFacts f;
    f.profile = row.profileName;
    f.tsStart = row.tsStart;
    f.node = row.outboundNode;
    f.host = row.targetHost;
    f.rule = row.rule;
    f.payload = row.rulePayload;
    f.group = row.policyGroup;
    f.sourceIP = row.sourceIP;
    f.destination = row.destinationIP.isEmpty() ? row.targetHost : row.destinationIP;
    f.remote = row.remoteDestination;
    f.tx = tx;
    f.rx = rx;
    m_summary.add(f);
    if (staged.end)
        return;
    if (m_openFlows.size() >= kOpenFlowLimit)
        m_openFlows.clear();
    m_openFlows.insert(row.connectionID, OpenFlow{sqlite3_last_insert_rowid(m_db), std::move(f)});
}

std::optional<FlowFacts> FlowDatabase::factsOfNewest(const QByteArray& connectionID)
{
    sqlite3_reset(m_newestStmt);
    bindBorrowedText(m_newestStmt, 1, connectionID);
    std::optional<FlowFacts> facts;
    if (sqlite3_step(m_newestStmt) == SQLITE_ROW)
        facts = readFacts(m_newestStmt);
    // A statement left mid-way would hold its read snapshot and keep checkpoints from emptying the log.
    sqlite3_reset(m_newestStmt);
    return facts;
}

std::optional<sqlite3_int64> FlowDatabase::newestRowOf(const QByteArray& connectionID)
{
    sqlite3_reset(m_newestRowStmt);
    bindBorrowedText(m_newestRowStmt, 1, connectionID);
    std::optional<sqlite3_int64> row;
    if (sqlite3_step(m_newestRowStmt) == SQLITE_ROW)
        row = sqlite3_column_int64(m_newestRowStmt, 0);
    sqlite3_reset(m_newestRowStmt);
    return row;
}

bool FlowDatabase::storedRowAfter(const QByteArray& connectionID, double tsStart)
{
    if (tsStart >= m_latestStoredStart)
        return false;
    sqlite3_reset(m_laterRowStmt);
    bindBorrowedText(m_laterRowStmt, 1, connectionID);
    sqlite3_bind_double(m_laterRowStmt, 2, tsStart);
    const bool later = sqlite3_step(m_laterRowStmt) == SQLITE_ROW;
    sqlite3_reset(m_laterRowStmt);
    return later;
}

void FlowDatabase::settleRow(const QByteArray& connectionID, qint64 tx, qint64 rx)
{
    const double now = secondsOf(QDateTime::currentDateTimeUtc());
    // A staged row is the newest of its id unless a stored one starts later (stored rows were
    // recorded earlier, so they win only by a later start).
    const auto staged = m_stagedByID.constFind(connectionID);
    if (staged != m_stagedByID.cend()) {
        StagedFlow& flow = m_staged[*staged];
        if (!storedRowAfter(connectionID, flow.row.tsStart)) {
            flow.end = Settlement{tx, rx, now};
            return;
        }
    }
    std::optional<FlowFacts> before;
    if (m_summaryValid) {
        const auto open = m_openFlows.constFind(connectionID);
        if (open != m_openFlows.cend() && newestRowOf(connectionID) == open->row)
            before = open->facts;
        else
            before = factsOfNewest(connectionID);
    }
    m_openFlows.remove(connectionID);
    sqlite3_stmt* s = m_settleStmt;
    sqlite3_reset(s);
    sqlite3_bind_int64(s, 1, tx);
    sqlite3_bind_int64(s, 2, rx);
    sqlite3_bind_double(s, 3, now);
    bindBorrowedText(s, 4, QByteArrayLiteral("vanished"));
    bindBorrowedText(s, 5, connectionID);
    if (sqlite3_step(s) == SQLITE_DONE && sqlite3_changes(m_db) == 1 && before)
        m_summary.settle(*before, tx, rx);
}

void FlowDatabase::purgeRows(double cutoff)
{
    insertStaged();
    const QByteArray sql = "DELETE FROM flows WHERE ts_start < " + shortestDecimal(cutoff);
    // Row ids of deleted rows are given out again.
    m_openFlows.clear();
    if (!m_summaryValid) {
        exec(m_db, sql.constData());
        return;
    }
    double newest = 0;
    bool any = false;
    forEachRow(m_db, QStringLiteral("SELECT MAX(ts_start) FROM flows"), {}, [&](sqlite3_stmt* s) {
        any = sqlite3_column_type(s, 0) != SQLITE_NULL;
        newest = sqlite3_column_double(s, 0);
    });
    QList<FlowFacts> removed;
    if (any && newest >= cutoff) {
        const QString facts = QStringLiteral("SELECT ") + QLatin1String(kFactColumns) +
                              QStringLiteral(" FROM flows WHERE ts_start < ?");
        forEachRow(m_db, facts, {cutoff}, [&](sqlite3_stmt* s) { removed.append(readFacts(s)); });
    }
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        rebuildSummary();
        return;
    }
    if (any && newest < cutoff) {
        m_summary.clear();
        return;
    }
    for (const FlowFacts& f : removed)
        m_summary.remove(f);
}

void FlowDatabase::insertGeoCache(const QList<GeoCacheEntry>& entries)
{
    m_queue->post([this, entries] {
        sqlite3_stmt* s = nullptr;
        const char* sql =
            "INSERT OR IGNORE INTO geoip_cache (ip, country, asn, org, updated_at) VALUES (?,?,?,?,?)";
        if (sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr) != SQLITE_OK) {
            sqlite3_finalize(s);
            return;
        }
        const double now = secondsOf(QDateTime::currentDateTimeUtc());
        for (const GeoCacheEntry& e : entries) {
            sqlite3_reset(s);
            const QByteArray ip = e.ip.toUtf8();
            bindText(s, 1, ip);
            bindText(s, 2, e.country.toUtf8());
            if (e.asn)
                bindText(s, 3, e.asn->toUtf8());
            else
                sqlite3_bind_null(s, 3);
            if (e.org)
                bindText(s, 4, e.org->toUtf8());
            else
                sqlite3_bind_null(s, 4);
            sqlite3_bind_double(s, 5, now);
            if (sqlite3_step(s) == SQLITE_DONE && sqlite3_changes(m_db) == 1)
                m_summary.addCountry(ip, e.country);
        }
        sqlite3_finalize(s);
    });
}

int FlowDatabase::rowCount()
{
    return m_queue->sync<int>([this] {
        int count = 0;
        forEachRow(m_db, QStringLiteral("SELECT COUNT(*) FROM flows"), {},
                   [&](sqlite3_stmt* s) { count = sqlite3_column_int(s, 0); });
        return count;
    });
}

qint64 FlowDatabase::fileSize() const
{
    return QFileInfo(m_path).size() + QFileInfo(m_path + QStringLiteral("-wal")).size();
}

std::optional<GeoCacheEntry> FlowDatabase::cachedGeo(const QString& ip)
{
    return m_queue->sync<std::optional<GeoCacheEntry>>([this, ip] {
        std::optional<GeoCacheEntry> entry;
        forEachRow(m_db, QStringLiteral("SELECT country, asn, org FROM geoip_cache WHERE ip = ?"), {ip},
                   [&](sqlite3_stmt* s) {
                       entry = GeoCacheEntry{ip, text(s, 0), optionalText(s, 1), optionalText(s, 2)};
                   });
        return entry;
    });
}

QStringList FlowDatabase::unresolvedIPs(int limit)
{
    return m_queue->sync<QStringList>([this, limit] {
        QStringList result;
        if (limit <= 0)
            return result;
        if (m_summaryValid) {
            // The addresses the dashboard joins on are the keys of the running totals.
            QSet<QByteArray> seen;
            const auto consider = [&](const QByteArray& address) {
                if (result.size() < limit && !m_summary.hasCountry(address) && !seen.contains(address)) {
                    seen.insert(address);
                    result.append(QString::fromUtf8(address));
                }
            };
            for (const FlowSummary::Partition& p : m_summary.partitions()) {
                for (auto it = p.destinations.keyBegin(); it != p.destinations.keyEnd(); ++it)
                    consider(*it);
                for (auto it = p.remotes.keyBegin(); it != p.remotes.keyEnd(); ++it)
                    consider(*it);
                for (auto it = p.sources.keyBegin(); it != p.sources.keyEnd(); ++it)
                    consider(*it);
            }
            return result;
        }
        const QString sql = QStringLiteral(
            "SELECT DISTINCT ip FROM (\n"
            "    SELECT destination_ip AS ip FROM flows WHERE destination_ip != ''\n"
            "    UNION\n"
            "    SELECT target_host AS ip FROM flows WHERE (destination_ip = '' OR destination_ip IS NULL) "
            "AND "
            "target_host != ''\n"
            "    UNION\n"
            "    SELECT remote_destination AS ip FROM flows WHERE remote_destination != ''\n"
            "    UNION\n"
            "    SELECT source_ip AS ip FROM flows WHERE source_ip IS NOT NULL AND source_ip != ''\n"
            ")\n"
            "WHERE ip NOT IN (SELECT ip FROM geoip_cache)\n"
            "LIMIT ?");
        forEachRow(m_db, sql, {limit}, [&](sqlite3_stmt* s) { result.append(text(s, 0)); });
        return result;
    });
}

} // namespace tarnwick
