#include "FlowSql.h"

namespace tarnwick::flowsql {

void bindText(sqlite3_stmt* statement, int index, const QByteArray& text)
{
    // A null QByteArray must still bind as text, never as NULL.
    sqlite3_bind_text(statement, index, text.isNull() ? "" : text.constData(), int(text.size()),
                      SQLITE_TRANSIENT);
}

void bindBorrowedText(sqlite3_stmt* statement, int index, const QByteArray& text)
{
    sqlite3_bind_text(statement, index, text.isNull() ? "" : text.constData(), int(text.size()),
                      SQLITE_STATIC);
}

void bind(sqlite3_stmt* statement, const QList<Param>& params, int first)
{
    int index = first;
    for (const Param& param : params) {
        if (const double* real = std::get_if<double>(&param))
            sqlite3_bind_double(statement, index, *real);
        else if (const int* integer = std::get_if<int>(&param))
            sqlite3_bind_int(statement, index, *integer);
        else
            bindText(statement, index, std::get<QString>(param).toUtf8());
        ++index;
    }
}

QByteArray bytes(sqlite3_stmt* statement, int column)
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (!data)
        return QByteArray("");
    return QByteArray(data, sqlite3_column_bytes(statement, column));
}

QString text(sqlite3_stmt* statement, int column)
{
    return QString::fromUtf8(bytes(statement, column));
}

std::optional<QString> optionalText(sqlite3_stmt* statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    return text(statement, column);
}

void exec(sqlite3* db, const char* sql)
{
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

QString Window::clause() const
{
    QString result = QStringLiteral("ts_start >= ?");
    if (until)
        result += QStringLiteral(" AND ts_start < ?");
    if (profile)
        result += QStringLiteral(" AND profile_name = ?");
    return result;
}

QList<Param> Window::params() const
{
    QList<Param> result{since};
    if (until)
        result.append(*until);
    if (profile)
        result.append(*profile);
    return result;
}

} // namespace tarnwick::flowsql
