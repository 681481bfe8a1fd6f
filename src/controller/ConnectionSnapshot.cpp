#include "ConnectionSnapshot.h"

#include "LenientJson.h"

#include <QJsonArray>

namespace tarnwick {

ConnectionSnapshot ConnectionSnapshot::fromJson(const QJsonObject& object)
{
    ConnectionSnapshot snapshot;
    snapshot.downloadTotal = LenientJson::intValue(object.value(QStringLiteral("downloadTotal"))).value_or(0);
    snapshot.uploadTotal = LenientJson::intValue(object.value(QStringLiteral("uploadTotal"))).value_or(0);
    const QJsonArray connections = object.value(QStringLiteral("connections")).toArray();
    snapshot.activeCount = static_cast<int>(connections.size());
    for (const QJsonValue& element : connections) {
        if (auto item = ConnectionItem::fromJson(element.toObject()))
            snapshot.connections.append(std::move(*item));
    }
    return snapshot;
}

} // namespace tarnwick
