#include "ProxyProvider.h"

#include "LenientJson.h"

#include <QJsonArray>

namespace tarnwick {

namespace {

// Some kernels write the quota keys capitalised ("Upload"); the lower-case key wins when both are there.
std::optional<SubscriptionInfo> quotaFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto read = [&object](const QString& key) {
        QString capitalised = key;
        capitalised[0] = capitalised[0].toUpper();
        return LenientJson::intValue(object, key, capitalised).value_or(0);
    };
    SubscriptionInfo info;
    info.upload = read(QStringLiteral("upload"));
    info.download = read(QStringLiteral("download"));
    info.total = read(QStringLiteral("total"));
    info.expire = read(QStringLiteral("expire"));
    if (info.total < 1)
        return std::nullopt;
    return info;
}

} // namespace

ProxyProvider ProxyProvider::fromJson(const QString& name, const QJsonObject& description)
{
    ProxyProvider provider;
    provider.name = name;
    provider.type = LenientJson::string(description, QStringLiteral("type"), provider.type);
    provider.vehicleType =
        LenientJson::string(description, QStringLiteral("vehicleType"), provider.vehicleType);
    provider.updatedAt = LenientJson::string(description, QStringLiteral("updatedAt"));
    for (const QJsonValue& element : description.value(QStringLiteral("proxies")).toArray()) {
        const QString nodeName =
            LenientJson::string(element.toObject(), QStringLiteral("name"), QStringLiteral("Unknown"));
        provider.proxies.append(ProxyNode::fromJson(nodeName, element));
    }
    provider.subscriptionInfo = quotaFromJson(description.value(QStringLiteral("subscriptionInfo")));
    return provider;
}

} // namespace tarnwick
