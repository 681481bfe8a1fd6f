#include "RouteColors.h"

namespace tarnwick {

const QStringList& RouteColors::routes()
{
    static const QStringList order{QStringLiteral("Proxy"), QStringLiteral("Direct"),
                                   QStringLiteral("Reject")};
    return order;
}

QColor RouteColors::of(const QString& route)
{
    if (route == QLatin1String("Direct"))
        return QColor(0x2e, 0xa0, 0x6b);
    if (route == QLatin1String("Proxy"))
        return QColor(0x3d, 0x7f, 0xdc);
    if (route == QLatin1String("Reject"))
        return QColor(0xd9, 0x4a, 0x4a);
    return QColor(0x8a, 0x8a, 0x8a);
}

} // namespace tarnwick
