#pragma once

#include "RuleItem.h"

#include <QString>
#include <variant>

namespace tarnwick {

// One line of the rules list as shown: a rule, or a comment line of the profile.
struct RuleRow
{
    struct Comment
    {
        int lineIndex = 0;
        QString text;

        bool operator==(const Comment&) const = default;
    };

    std::variant<RuleItem, Comment> content;

    // The rule's identity, or "comment-" and the line index.
    QString identity() const;

    bool operator==(const RuleRow&) const = default;
};

} // namespace tarnwick
