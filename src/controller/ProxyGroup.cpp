#include "ProxyGroup.h"

#include "LenientJson.h"

#include <QJsonArray>

namespace tarnwick {

namespace {

// The member names when the description has an "all" array of strings; otherwise it is not a group.
std::optional<QStringList> memberNames(const QJsonObject& description)
{
    const QJsonValue all = description.value(QStringLiteral("all"));
    if (!all.isArray())
        return std::nullopt;
    QStringList names;
    for (const QJsonValue& member : all.toArray()) {
        if (!member.isString())
            return std::nullopt;
        names.append(member.toString());
    }
    return names;
}

} // namespace

QList<ProxyGroup> ProxyGroup::listFromJson(const QJsonObject& proxies)
{
    QList<ProxyGroup> groups;
    for (auto entry = proxies.begin(); entry != proxies.end(); ++entry) {
        const QJsonObject description = entry.value().toObject();
        const auto members = memberNames(description);
        if (!members)
            continue;
        ProxyGroup group;
        group.name = entry.key();
        group.isHidden = LenientJson::boolean(description, QStringLiteral("hidden"));
        group.type = parseGroupType(
            LenientJson::string(description, QStringLiteral("type"), QStringLiteral("Selector")));
        group.selectedProxyName = LenientJson::stringValue(description.value(QStringLiteral("now")));
        group.testURL = LenientJson::stringValue(description.value(QStringLiteral("testUrl")));
        group.icon = LenientJson::stringValue(description.value(QStringLiteral("icon")));
        for (const QString& member : *members)
            group.proxies.append(ProxyNode::fromJson(member, proxies.value(member)));
        groups.append(group);
    }
    return groups;
}

} // namespace tarnwick
