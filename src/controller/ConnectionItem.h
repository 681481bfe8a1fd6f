#pragma once

#include "ConnectionMetadata.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarnwick {

// One connection the kernel tracks; `id` is its identity.
struct ConnectionItem
{
    QString id;
    // Byte totals of this connection so far.
    qint64 upload = 0;
    qint64 download = 0;
    QDateTime start;
    // The outbound chain as the kernel reports it: the node first, the outermost group last.
    QStringList chains;
    QString rule;
    QString rulePayload;
    ConnectionMetadata metadata;
    // Bytes per second, computed by the connection store.
    qint64 uploadSpeed = 0;
    qint64 downloadSpeed = 0;
    // Set by the connection store once the kernel no longer lists the connection.
    bool isClosed = false;

    QString outboundNode() const;
    // The host, else the sniffed host, else the destination address.
    QString displayHost() const;
    QString destination() const;
    QString connectionTypeLabel() const;
    QString protocolLabel() const;
    // The chain from the group to the node: "Proxy → HK 01".
    QString chainDescription() const;
    // Seconds since the connection started.
    double duration() const;

    // Absent when the element has no string "id".
    static std::optional<ConnectionItem> fromJson(const QJsonObject& object);

    bool operator==(const ConnectionItem&) const = default;
};

} // namespace tarnwick
