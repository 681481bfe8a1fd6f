#include "RuleProviderItem.h"

#include "LenientJson.h"

namespace tarnwick {

RuleProviderItem RuleProviderItem::fromJson(const QString& name, const QJsonObject& description)
{
    RuleProviderItem item;
    item.name = name;
    item.behavior = LenientJson::string(description, QStringLiteral("behavior"));
    item.format = LenientJson::string(description, QStringLiteral("format"));
    item.ruleCount =
        static_cast<int>(LenientJson::intValue(description.value(QStringLiteral("ruleCount"))).value_or(0));
    item.type = LenientJson::string(description, QStringLiteral("type"));
    item.updatedAt = LenientJson::string(description, QStringLiteral("updatedAt"));
    item.vehicleType = LenientJson::string(description, QStringLiteral("vehicleType"));
    return item;
}

QJsonObject RuleProviderItem::toJson() const
{
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("behavior"), behavior},
        {QStringLiteral("format"), format},
        {QStringLiteral("ruleCount"), ruleCount},
        {QStringLiteral("type"), type},
        {QStringLiteral("updatedAt"), updatedAt},
        {QStringLiteral("vehicleType"), vehicleType},
    };
}

} // namespace tarnwick
