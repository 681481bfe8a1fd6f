#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

namespace tarnwick {

// One line of the kernel's log.
struct LogEntry
{
    // A random UUID's text, the entry's identity in lists.
    QString id;
    // "debug", "info", "warning", "error" …
    QString level = QStringLiteral("info");
    QString message;
    // "HH:mm:ss"; decoding always fills it.
    std::optional<QString> time;

    // Plain ("type", "payload") and structured ("level", "message", "time") messages alike; without a
    // time the local time of receipt is used.
    static std::optional<LogEntry> fromJson(const QJsonObject& object);

    bool operator==(const LogEntry&) const = default;
};

} // namespace tarnwick
