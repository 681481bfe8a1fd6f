#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnwick {

// A rule provider as "/providers/rules" reports it.
struct RuleProviderItem
{
    QString name;
    QString behavior;
    QString format;
    int ruleCount = 0;
    QString type;
    QString updatedAt;
    QString vehicleType;

    static RuleProviderItem fromJson(const QString& name, const QJsonObject& description);
    // Keys "name", "behavior", "format", "ruleCount", "type", "updatedAt", "vehicleType".
    QJsonObject toJson() const;

    bool operator==(const RuleProviderItem&) const = default;
};

} // namespace tarnwick
