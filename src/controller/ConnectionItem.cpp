#include "ConnectionItem.h"

#include "LenientJson.h"

#include <QJsonArray>
#include <algorithm>

namespace tarnwick {

namespace {

// An internet date-time (RFC 3339): with or without fractional seconds, always with a zone designator.
QDateTime parseInternetDateTime(const QJsonValue& value)
{
    const auto text = LenientJson::stringValue(value);
    if (!text)
        return {};
    const QDateTime parsed = QDateTime::fromString(*text, Qt::ISODateWithMs);
    if (!parsed.isValid() || parsed.timeSpec() == Qt::LocalTime)
        return {};
    return parsed;
}

} // namespace

QString ConnectionItem::outboundNode() const
{
    return chains.isEmpty() ? QStringLiteral("DIRECT") : chains.first();
}

QString ConnectionItem::displayHost() const
{
    if (!metadata.host.isEmpty())
        return metadata.host;
    if (!metadata.sniffHost.isEmpty())
        return metadata.sniffHost;
    return metadata.destinationIP;
}

QString ConnectionItem::destination() const
{
    const QString hostPart = displayHost();
    if (hostPart.isEmpty() || metadata.destinationPort.isEmpty())
        return hostPart;
    return hostPart + u':' + metadata.destinationPort;
}

QString ConnectionItem::connectionTypeLabel() const
{
    const QString network = metadata.network.toLower();
    if (metadata.type.isEmpty())
        return network;
    return metadata.type + QStringLiteral(" | ") + network;
}

QString ConnectionItem::protocolLabel() const
{
    const QString network = metadata.network.toUpper();
    if (network == QLatin1String("UDP") &&
        (metadata.destinationPort == QLatin1String("443") || !metadata.sniffHost.isEmpty()))
        return QStringLiteral("QUIC");
    return network;
}

QString ConnectionItem::chainDescription() const
{
    QStringList reversed = chains;
    std::reverse(reversed.begin(), reversed.end());
    return reversed.join(QStringLiteral(" \u2192 "));
}

double ConnectionItem::duration() const
{
    return static_cast<double>(start.msecsTo(QDateTime::currentDateTimeUtc())) / 1000.0;
}

std::optional<ConnectionItem> ConnectionItem::fromJson(const QJsonObject& object)
{
    const auto id = LenientJson::stringValue(object.value(QStringLiteral("id")));
    if (!id)
        return std::nullopt;
    ConnectionItem item;
    item.id = *id;
    item.upload = LenientJson::numberValue(object.value(QStringLiteral("upload"))).value_or(0);
    item.download = LenientJson::numberValue(object.value(QStringLiteral("download"))).value_or(0);
    item.start = parseInternetDateTime(object.value(QStringLiteral("start")));
    if (!item.start.isValid())
        item.start = QDateTime::currentDateTimeUtc();
    // A chain with anything but strings in it is mistyped as a whole.
    for (const QJsonValue& link : object.value(QStringLiteral("chains")).toArray()) {
        if (!link.isString()) {
            item.chains.clear();
            break;
        }
        item.chains.append(link.toString());
    }
    item.rule = LenientJson::string(object, QStringLiteral("rule"));
    item.rulePayload = LenientJson::string(object, QStringLiteral("rulePayload"));
    item.metadata = ConnectionMetadata::fromJson(object.value(QStringLiteral("metadata")).toObject());
    return item;
}

} // namespace tarnwick
