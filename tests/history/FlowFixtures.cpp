#include "FlowFixtures.h"

namespace tarnwick::test {

ConnectionItem connection(const FlowShape& shape)
{
    ConnectionItem item;
    item.id = shape.id;
    item.start = shape.start;
    item.chains = shape.chains;
    item.upload = shape.upload;
    item.download = shape.download;
    item.rule = shape.rule;
    item.rulePayload = shape.payload;
    item.metadata.host = shape.host;
    item.metadata.destinationIP = shape.destinationIP;
    item.metadata.remoteDestination = shape.remote;
    item.metadata.sourceIP = shape.sourceIP;
    item.metadata.process = shape.process;
    item.metadata.network = "tcp";
    item.metadata.destinationPort = "443";
    return item;
}

QDateTime local(const QString& text)
{
    return QDateTime::fromString(text, "yyyy-MM-dd HH:mm:ss");
}

QVariantList column(const QString& dbPath, const QString& sql)
{
    QVariantList values;
    sqlite3* db = nullptr;
    sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        switch (sqlite3_column_type(statement, 0)) {
        case SQLITE_INTEGER:
            values.append(sqlite3_column_int64(statement, 0));
            break;
        case SQLITE_FLOAT:
            values.append(sqlite3_column_double(statement, 0));
            break;
        case SQLITE_NULL:
            values.append(QVariant());
            break;
        default:
            values.append(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return values;
}

} // namespace tarnwick::test
