#include "ProfileNode.h"

#include "ProfileLedger.h"

#include <QUuid>
#include <cmath>

namespace tarnwick {

namespace {

constexpr qint64 kReferenceEpochMSecs = 978307200000; // 2001-01-01T00:00:00Z

const NativeValue& member(const NativeValue& object, const char* name, NativeValue::Type type, bool optional)
{
    const QString key = QLatin1String(name);
    const NativeValue& value = object.value(key);
    const bool numeric = type == NativeValue::Type::Double && value.isInteger();
    if ((optional && value.isNull()) || value.type() == type || numeric)
        return value;
    throw ProfileLedgerError(
        QStringLiteral("The profile manifest is damaged: \"%1\" is missing or has the wrong type.").arg(key));
}

} // namespace

QString toString(ProfileType type)
{
    return type == ProfileType::Remote ? QStringLiteral("remote") : QStringLiteral("local");
}

double toReferenceSeconds(const QDateTime& date)
{
    return double(date.toMSecsSinceEpoch() - kReferenceEpochMSecs) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(kReferenceEpochMSecs + qint64(std::llround(seconds * 1000.0)),
                                          Qt::UTC);
}

QString ProfileNode::newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

NativeValue ProfileNode::toNative() const
{
    NativeValue::Dictionary object{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("type"), toString(type)},
        {QStringLiteral("fileName"), fileName},
    };
    if (url)
        object.emplace(QStringLiteral("url"), *url);
    if (updateInterval)
        object.emplace(QStringLiteral("updateInterval"), *updateInterval);
    if (lastUpdated)
        object.emplace(QStringLiteral("lastUpdated"), toReferenceSeconds(*lastUpdated));
    return object;
}

ProfileNode ProfileNode::fromNative(const NativeValue& value)
{
    if (!value.isDictionary())
        throw ProfileLedgerError(
            QStringLiteral("The profile manifest is damaged: an entry is not an object."));
    using T = NativeValue::Type;
    ProfileNode node;
    node.id = member(value, "id", T::String, false).toString();
    node.name = member(value, "name", T::String, false).toString();
    node.fileName = member(value, "fileName", T::String, false).toString();
    const QString type = member(value, "type", T::String, false).toString();
    if (type == QLatin1String("remote"))
        node.type = ProfileType::Remote;
    else if (type == QLatin1String("local"))
        node.type = ProfileType::Local;
    else
        throw ProfileLedgerError(
            QStringLiteral("The profile manifest is damaged: unknown profile type \"%1\".").arg(type));
    if (const NativeValue& url = member(value, "url", T::String, true); !url.isNull())
        node.url = url.toString();
    if (const NativeValue& interval = member(value, "updateInterval", T::Double, true); !interval.isNull())
        node.updateInterval = interval.toDouble();
    if (const NativeValue& date = member(value, "lastUpdated", T::Double, true); !date.isNull())
        node.lastUpdated = fromReferenceSeconds(date.toDouble());
    return node;
}

} // namespace tarnwick
