#pragma once

#include "ProxyNode.h"
#include "config/SubscriptionInfo.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// A proxy provider as "/providers/proxies" reports it.
struct ProxyProvider
{
    QString name;
    QString type = QStringLiteral("Proxy");
    // "HTTP", "File", "Compatible" …
    QString vehicleType = QStringLiteral("Unknown");
    QList<ProxyNode> proxies;
    // The kernel's timestamp text, kept verbatim.
    QString updatedAt;
    // Only when the provider reports a quota (a total of at least one byte).
    std::optional<SubscriptionInfo> subscriptionInfo;

    static ProxyProvider fromJson(const QString& name, const QJsonObject& description);

    bool operator==(const ProxyProvider&) const = default;
};

} // namespace tarnwick
