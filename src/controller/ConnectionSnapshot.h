#pragma once

#include "ConnectionItem.h"

#include <QJsonObject>
#include <QList>

namespace tarnwick {

// One message of the connections stream, or one "/connections" response.
struct ConnectionSnapshot
{
    // The kernel's byte totals since it started.
    qint64 downloadTotal = 0;
    qint64 uploadTotal = 0;
    // Elements of the raw "connections" array, including those that did not decode.
    int activeCount = 0;
    QList<ConnectionItem> connections;

    static ConnectionSnapshot fromJson(const QJsonObject& object);

    bool operator==(const ConnectionSnapshot&) const = default;
};

} // namespace tarnwick
