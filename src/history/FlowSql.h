#pragma once

#include "FlowStatistics.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>
#include <sqlite3.h>

namespace tarnwick::flowsql {

// Binds parameters in order to placeholders 1, 2, 3 ….
void bind(sqlite3_stmt* statement, const QList<Param>& params, int first = 1);
void bindText(sqlite3_stmt* statement, int index, const QByteArray& text);
// Binds without copying: `text` must stay unchanged until the statement has stepped.
void bindBorrowedText(sqlite3_stmt* statement, int index, const QByteArray& text);

QByteArray bytes(sqlite3_stmt* statement, int column);
// NULL reads as empty text.
QString text(sqlite3_stmt* statement, int column);
std::optional<QString> optionalText(sqlite3_stmt* statement, int column);

// Prepares `sql`, binds `params` and calls `onRow(statement)` for each row; a failed prepare yields
// no rows. Returns whether the statement ran to its end.
template <typename OnRow>
bool forEachRow(sqlite3* db, const QString& sql, const QList<Param>& params, OnRow&& onRow)
{
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return false;
    }
    bind(statement, params);
    int status;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW)
        onRow(statement);
    sqlite3_finalize(statement);
    return status == SQLITE_DONE;
}

// Runs a statement without result rows, ignoring failure.
void exec(sqlite3* db, const char* sql);

// The time-window clause: "ts_start >= ?" [" AND ts_start < ?"] [" AND profile_name = ?"].
struct Window
{
    double since = 0;
    std::optional<double> until;
    std::optional<QString> profile;

    QString clause() const;
    QList<Param> params() const;
};

inline double secondsOf(const QDateTime& date)
{
    return double(date.toMSecsSinceEpoch()) / 1000.0;
}

// The route class of `outbound_node`, as the dashboard's queries spell it.
inline constexpr const char* kRouteCase = "CASE\n"
                                          "        WHEN outbound_node = 'DIRECT' THEN 'Direct'\n"
                                          "        WHEN outbound_node = 'REJECT' THEN 'Reject'\n"
                                          "        ELSE 'Proxy'\n"
                                          "    END";

} // namespace tarnwick::flowsql
