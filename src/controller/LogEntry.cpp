#include "LogEntry.h"

#include "LenientJson.h"

#include <QTime>
#include <QUuid>

namespace tarnwick {

std::optional<LogEntry> LogEntry::fromJson(const QJsonObject& object)
{
    const auto first = [&object](const char* key, const char* alternative) {
        auto value = LenientJson::stringValue(object.value(QLatin1String(key)));
        return value ? value : LenientJson::stringValue(object.value(QLatin1String(alternative)));
    };
    LogEntry entry;
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    entry.level = first("type", "level").value_or(QStringLiteral("info"));
    entry.message = first("payload", "message").value_or(QString());
    entry.time = LenientJson::stringValue(object.value(QStringLiteral("time")))
                     .value_or(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    return entry;
}

} // namespace tarnwick
