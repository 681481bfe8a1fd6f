#pragma once

#include "ConnectionSnapshot.h"

#include <QByteArray>
#include <optional>

namespace tarnwick {

// Reads one "/connections" message straight from its text. The kernel sends the whole connection table
// every second; with thousands of connections that is megabytes of JSON, which a JSON tree would take
// tens of milliseconds to build and walk on the main thread. The reading rules are those of
// ConnectionSnapshot::fromJson: mistyped fields take their defaults, elements without an id are dropped.
class ConnectionSnapshotDecoder final
{
public:
    // Absent when the text is not one well-formed JSON object.
    static std::optional<ConnectionSnapshot> decode(const QByteArray& utf8);
};

} // namespace tarnwick
