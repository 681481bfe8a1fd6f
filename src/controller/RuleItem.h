#pragma once

#include <QString>

namespace tarnwick {

// One rule of the active profile.
struct RuleItem
{
    // Position in the profile's rule list, 0-based; also the index "/rules" reports.
    int index = 0;
    QString type;
    QString payload;
    QString proxy;
    // False when the rule is disabled (commented out) in the profile.
    bool enabled = true;
    bool noResolve = false;

    // "12-true": the index and the enabled flag.
    QString identity() const;
    bool isFinal() const;

    bool operator==(const RuleItem&) const = default;
};

} // namespace tarnwick
