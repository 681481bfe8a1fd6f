#pragma once

#include <QString>

namespace tarnwick {

// The kind of a proxy group as the kernel reports it.
enum class GroupType
{
    selector,
    urlTest,
    fallback,
    loadBalance,
    relay,
    pass,
    smart,
    pending,
    unknown,
};

// Also the display name: "Selector", "URLTest", …
QString rawValue(GroupType type);
// Case-insensitive; any text that names no kind is unknown.
GroupType parseGroupType(const QString& kernelType);
// The groups whose current member the user may set.
bool isSelectable(GroupType type);

} // namespace tarnwick
