#include "GroupType.h"

#include <array>

namespace tarnwick {

namespace {

struct Kind
{
    GroupType type;
    const char* raw;
};

constexpr std::array<Kind, 9> kinds{{
    {GroupType::selector, "Selector"},
    {GroupType::urlTest, "URLTest"},
    {GroupType::fallback, "Fallback"},
    {GroupType::loadBalance, "LoadBalance"},
    {GroupType::relay, "Relay"},
    {GroupType::pass, "Pass"},
    {GroupType::smart, "Smart"},
    {GroupType::pending, "Pending"},
    {GroupType::unknown, "Unknown"},
}};

} // namespace

QString rawValue(GroupType type)
{
    return QLatin1String(kinds[static_cast<size_t>(type)].raw);
}

GroupType parseGroupType(const QString& kernelType)
{
    const QString lowered = kernelType.toLower();
    for (const Kind& kind : kinds) {
        if (kind.type != GroupType::unknown && lowered == QString::fromLatin1(kind.raw).toLower())
            return kind.type;
    }
    return GroupType::unknown;
}

bool isSelectable(GroupType type)
{
    return type == GroupType::selector || type == GroupType::fallback;
}

} // namespace tarnwick
