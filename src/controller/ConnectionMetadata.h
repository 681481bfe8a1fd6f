#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnwick {

// Where a connection comes from and goes to, as the kernel reports it; every field defaults to "".
struct ConnectionMetadata
{
    QString network;
    QString type;
    QString sourceIP;
    QString destinationIP;
    QString sourcePort;
    QString destinationPort;
    QString host;
    QString sniffHost;
    QString process;
    QString processPath;
    QString remoteDestination;
    QString inboundName;

    static ConnectionMetadata fromJson(const QJsonObject& object);

    bool operator==(const ConnectionMetadata&) const = default;
};

} // namespace tarnwick
