#pragma once

#include "controller/ConnectionItem.h"

#include <QByteArray>
#include <optional>

namespace tarnwick {

// The values one connection is stored with, exactly as they are bound (texts as UTF-8).
struct FlowRow
{
    QByteArray connectionID;
    qint64 sessionID = 0;
    QByteArray process;
    QByteArray processPath;
    QByteArray targetHost;
    int targetPort = 0;
    QByteArray network;
    QByteArray rule;
    QByteArray rulePayload;
    QByteArray outboundNode;
    QByteArray chains;
    QByteArray inboundType;
    QByteArray inboundName;
    QByteArray destinationIP;
    QByteArray sniffHost;
    QByteArray remoteDestination;
    qint64 txBytes = 0;
    qint64 rxBytes = 0;
    double tsStart = 0;
    QByteArray profileName;
    QByteArray sourceIP;
    // The second element of the chain (what json_extract(chains, '$[1]') reads), when there is one.
    std::optional<QByteArray> policyGroup;

    static FlowRow from(const ConnectionItem& item, qint64 sessionID, const QString& profileName);

    // The destination port as stored: a signed 32-bit decimal with an optional sign, else 0.
    static int parsePort(const QString& text);
};

} // namespace tarnwick
