#pragma once

#include "controller/MihomoRuleType.h"
#include "controller/RuleItem.h"

#include <QString>
#include <optional>

namespace tarnwick {

// A rule the editor opens with, filled in by whoever asked (the webpage rule capture).
struct RulePrefill
{
    MihomoRuleType ruleType = MihomoRuleType::domainSuffix;
    QString value;

    bool operator==(const RulePrefill& other) const = default;
};

// What the rule editor is opened for.
struct RuleEditorMode
{
    enum class Kind
    {
        createPrefill,
        edit,
        editLogical,
        editSubRule,
        create,
        createLogical,
    };

    Kind kind = Kind::create;
    std::optional<RulePrefill> prefill; // createPrefill
    std::optional<RuleItem> rule;       // edit, editLogical
    QString subRuleType;                // editSubRule
    QString subRulePayload;             // editSubRule

    static RuleEditorMode createPrefill(RulePrefill prefill)
    {
        RuleEditorMode mode;
        mode.kind = Kind::createPrefill;
        mode.prefill = std::move(prefill);
        return mode;
    }
};

} // namespace tarnwick
