#pragma once

#include "platform/Error.h"

#include <QList>
#include <QString>

namespace tarnwick {

class RuleCRUDError final : public Error
{
public:
    enum class Kind
    {
        indexOutOfBounds,
        rulesKeyNotFound,
        invalidRule,
    };

    static RuleCRUDError indexOutOfBounds(qsizetype index, qsizetype total);
    static RuleCRUDError rulesKeyNotFound();
    // A rule text that would not stay one rule line of the file.
    static RuleCRUDError invalidRule(const QString& why);

    Kind kind() const { return m_kind; }

private:
    RuleCRUDError(Kind kind, QString description) : Error(std::move(description)), m_kind(kind) {}
    Kind m_kind;
};

// One rule entry of a profile's rules section, as the rule editor lists it.
struct RuleEntry
{
    qsizetype index = 0;
    bool enabled = true;
    QString text; // without the dash, the "#" of a disabled entry and one pair of surrounding quotes

    bool operator==(const RuleEntry&) const = default;
};

// Edits the rules of a profile file line by line: every other byte of the user's file stays exactly as it
// was, a disabled rule stays in the file as a commented-out line, and the file is replaced atomically.
// Indexes count the section's entries, enabled and disabled alike, from 0. Every operation throws
// RuleCRUDError or FileError and leaves the file untouched when it fails.
class RuleStore final
{
public:
    static QList<RuleEntry> listRules(const QString& configFile);

    static void insertRule(const QString& raw, qsizetype at, const QString& configFile);
    static void deleteRule(qsizetype at, const QString& configFile);
    static void updateRule(qsizetype at, const QString& newRaw, const QString& configFile);
    static void toggleRule(qsizetype at, const QString& configFile);
    static void swapRules(qsizetype at, qsizetype with, const QString& configFile);
};

// Takes apart the text of a logical rule (AND, OR, NOT) for the visual rule editor.
class LogicalRuleParser final
{
public:
    // The inside of one pair of parentheses around the whole (trimmed) text, trimmed; the trimmed text
    // itself when its first parenthesis closes before its end.
    static QString stripOuterParentheses(const QString& text);
    // The parts between the commas outside all parentheses, each trimmed.
    static QStringList splitTopLevel(const QString& text);

    // A logical rule's payload broken into its conditions; a condition that is itself logical keeps its
    // operator and its own conditions.
    struct Condition
    {
        QString text;    // e.g. "DOMAIN,example.com" or "NOT,((NETWORK,UDP))"
        QString logical; // "AND", "OR", "NOT", or empty for a plain condition
        QList<Condition> operands;
    };
    static QList<Condition> decompose(const QString& payload);
};

} // namespace tarnwick
