#pragma once

#include "config/RuleStore.h"

#include <QStringList>

namespace tarnwick {

// A rule as the rule editor holds it — type, payload, policy, options — with the checks made before it
// is written: a rule the editor writes is one the kernel can read.
struct RuleDraft
{
    QString type;
    QString payload;
    QString policy;
    QStringList options; // "no-resolve", "src"

    // Reads a rule line's text ("DOMAIN-SUFFIX,example.com,Proxy,no-resolve", "MATCH,DIRECT", logical).
    static RuleDraft parse(const QString& text);
    QString text() const;
    // Why this is not a rule the kernel takes; empty when it is.
    QString problem() const;

    static bool isLogical(const QString& type);
    // The example payload the editor shows for a type.
    static QString placeholder(const QString& type);
    // A logical payload from its conditions: "((DOMAIN,example.com),(NETWORK,UDP))".
    static QString logicalPayload(const QList<LogicalRuleParser::Condition>& operands);
    // A condition's text: itself when plain, "OP,(…)" rebuilt from its operands when logical.
    static QString conditionText(const LogicalRuleParser::Condition& condition);
    // Why a payload does not suit the type; empty when it does.
    static QString payloadProblem(const QString& type, const QString& payload);
};

} // namespace tarnwick
