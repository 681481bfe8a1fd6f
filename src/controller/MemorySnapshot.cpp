#include "MemorySnapshot.h"

#include "LenientJson.h"

namespace tarnwick {

std::optional<MemorySnapshot> MemorySnapshot::fromJson(const QJsonObject& object)
{
    MemorySnapshot snapshot;
    snapshot.inUse =
        LenientJson::intValue(object, QStringLiteral("inuse"), QStringLiteral("inUse")).value_or(0);
    snapshot.osLimit =
        LenientJson::intValue(object, QStringLiteral("oslimit"), QStringLiteral("osLimit")).value_or(0);
    return snapshot;
}

} // namespace tarnwick
