#include "ProxyNode.h"

#include "LenientJson.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

namespace tarnwick {

QString ProxyNode::detailLabel() const
{
    QStringList parts{type.value_or(QStringLiteral("Proxy"))};
    if (udp)
        parts.append(xudp ? QStringLiteral("xudp") : QStringLiteral("udp"));
    return parts.join(QStringLiteral(" / "));
}

bool ProxyNode::isBuiltinPolicy() const
{
    if (!type)
        return false;
    static const QStringList builtins{QStringLiteral("compatible"), QStringLiteral("pass"),
                                      QStringLiteral("reject"), QStringLiteral("rejectdrop"),
                                      QStringLiteral("reject-drop")};
    return builtins.contains(type->toLower());
}

ProxyNode ProxyNode::fromJson(const QString& name, const QJsonValue& description)
{
    ProxyNode node;
    node.name = name;
    if (!description.isObject())
        return node;
    const QJsonObject object = description.toObject();
    node.type = LenientJson::stringValue(object.value(QStringLiteral("type")));
    const QJsonArray history = object.value(QStringLiteral("history")).toArray();
    if (!history.isEmpty())
        node.delay = LenientJson::intValue(history.last().toObject().value(QStringLiteral("delay")));
    node.udp = LenientJson::boolean(object, QStringLiteral("udp"));
    node.xudp = LenientJson::boolean(object, QStringLiteral("xudp"));
    return node;
}

} // namespace tarnwick
