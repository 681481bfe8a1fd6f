#include "LenientJson.h"

#include <QVariant>
#include <cmath>

namespace tarnwick::LenientJson {

std::optional<qint64> numberValue(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // QJsonValue keeps integers that fit 64 bits exactly; only true fractions and huge values are doubles.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    // 2^63 is exactly representable; every double below it and at or above -2^63 fits after truncation.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number >= limit || number < -limit)
        return std::nullopt;
    return static_cast<qint64>(std::trunc(number));
}

std::optional<qint64> intValue(const QJsonValue& value)
{
    if (!value.isString())
        return numberValue(value);
    const QString text = value.toString();
    const qsizetype digitsFrom = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    if (text.size() == digitsFrom)
        return std::nullopt;
    for (qsizetype i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    // toLongLong takes a minus but not a plus sign.
    const qint64 parsed = (text[0] == u'+' ? text.mid(1) : text).toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(parsed) : std::nullopt;
}

std::optional<QString> stringValue(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<qint64> intValue(const QJsonObject& object, const QString& key, const QString& alternative)
{
    if (const auto value = intValue(object.value(key)))
        return value;
    return intValue(object.value(alternative));
}

} // namespace tarnwick::LenientJson
