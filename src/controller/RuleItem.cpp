#include "RuleItem.h"

namespace tarnwick {

QString RuleItem::identity() const
{
    return QString::number(index) + (enabled ? QStringLiteral("-true") : QStringLiteral("-false"));
}

bool RuleItem::isFinal() const
{
    return type == QLatin1String("MATCH") || type == QLatin1String("FINAL");
}

} // namespace tarnwick
