#include "TrafficSnapshot.h"

#include "LenientJson.h"

namespace tarnwick {

std::optional<TrafficSnapshot> TrafficSnapshot::fromJson(const QJsonObject& object)
{
    TrafficSnapshot snapshot;
    snapshot.id = QUuid::createUuid();
    snapshot.timestamp = QDateTime::currentDateTimeUtc();
    snapshot.upload =
        LenientJson::intValue(object, QStringLiteral("up"), QStringLiteral("upload")).value_or(0);
    snapshot.download =
        LenientJson::intValue(object, QStringLiteral("down"), QStringLiteral("download")).value_or(0);
    return snapshot;
}

} // namespace tarnwick
