#pragma once

#include "GroupType.h"
#include "ProxyNode.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

struct ProxyGroup
{
    QString name;
    GroupType type = GroupType::selector;
    // The member in use ("now").
    std::optional<QString> selectedProxyName;
    QList<ProxyNode> proxies;
    // The group's own latency-test URL.
    std::optional<QString> testURL;
    bool isHidden = false;
    std::optional<QString> icon;

    // Every group of a "/proxies" response's "proxies" object, which maps every outbound name (groups and
    // nodes alike) to its description. A group is an entry with an "all" array of member names; each member
    // is described by its own entry in the same object.
    static QList<ProxyGroup> listFromJson(const QJsonObject& proxies);

    bool operator==(const ProxyGroup&) const = default;
};

} // namespace tarnwick
