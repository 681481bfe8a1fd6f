#include "RuleRow.h"

namespace tarnwick {

QString RuleRow::identity() const
{
    if (const auto* rule = std::get_if<RuleItem>(&content))
        return rule->identity();
    return QStringLiteral("comment-") + QString::number(std::get<Comment>(content).lineIndex);
}

} // namespace tarnwick
