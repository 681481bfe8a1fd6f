#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

namespace tarnwick {

// The kernel's JSON is read leniently: a missing or mistyped field takes the reader's default, it never
// fails a whole response.
namespace LenientJson {

// A JSON integer as is; a floating-point number truncated toward zero (absent when not finite or beyond
// 64 bits); a string of an optional sign and decimal digits; anything else is absent.
std::optional<qint64> intValue(const QJsonValue& value);

// Like intValue, but strings do not count: only JSON numbers.
std::optional<qint64> numberValue(const QJsonValue& value);

// The text when the value is a JSON string.
std::optional<QString> stringValue(const QJsonValue& value);

inline QString string(const QJsonObject& object, const QString& key, const QString& fallback = QString())
{
    return stringValue(object.value(key)).value_or(fallback);
}

inline bool boolean(const QJsonObject& object, const QString& key, bool fallback = false)
{
    const QJsonValue value = object.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

// The first of `key` and `alternative` that reads as an integer.
std::optional<qint64> intValue(const QJsonObject& object, const QString& key, const QString& alternative);

} // namespace LenientJson
} // namespace tarnwick
