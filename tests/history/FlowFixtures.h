#pragma once

#include "controller/ConnectionItem.h"

#include <QTemporaryDir>
#include <QVariant>
#include <sqlite3.h>

namespace tarnwick::test {

// A connection as the kernel would report it.
struct FlowShape
{
    QString id{};
    QDateTime start{};
    QString host{};
    QStringList chains{};
    qint64 upload = 0;
    qint64 download = 0;
    QString destinationIP{};
    QString remote{};
    QString rule = "DomainSuffix";
    QString payload{};
    QString sourceIP = "127.0.0.1";
    QString process{};
};
ConnectionItem connection(const FlowShape& shape);

// Local time: "2024-03-31 23:59:30".
QDateTime local(const QString& text);

// Reads one column of every row, in row order, through a connection of the test's own.
QVariantList column(const QString& dbPath, const QString& sql);

} // namespace tarnwick::test
