#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QUuid>
#include <optional>

namespace tarnwick {

// One traffic sample: bytes per second as the kernel reports them.
struct TrafficSnapshot
{
    QUuid id;
    // Time of receipt.
    QDateTime timestamp;
    qint64 upload = 0;
    qint64 download = 0;

    // A fresh id and the current time; "up"/"down", else "upload"/"download".
    static std::optional<TrafficSnapshot> fromJson(const QJsonObject& object);

    bool operator==(const TrafficSnapshot&) const = default;
};

} // namespace tarnwick
