#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace tarnwick {

class LogicalRuleEditor;
struct RuleDraft;

// Adds or edits one rule: its type (every rule type of the kernel), payload with an example for the
// type, policy (the running configuration's groups and proxies, or any name typed), no-resolve where
// the type takes it, and for AND/OR/NOT a visual editor of the conditions. Saving is refused, with the
// reason shown under the form, while the rule is not one the kernel can read.
class RuleEditorDialog final : public QDialog
{
    Q_OBJECT

public:
    RuleEditorDialog(const QStringList& policies, QWidget* parent = nullptr);

    // Fills the form from a rule's text.
    void setRule(const QString& text);
    QString ruleText() const;
    // Why the rule cannot be saved; empty when it can.
    QString problem() const;

    QComboBox& type() const { return *m_type; }
    QLineEdit& payload() const { return *m_payload; }
    QComboBox& policy() const { return *m_policy; }
    LogicalRuleEditor& logicalEditor() const { return *m_logical; }

    void accept() override;

private:
    RuleDraft draft() const;
    void typeChanged();
    void refresh();

    QComboBox* m_type;
    QLineEdit* m_payload;
    QComboBox* m_policy;
    QCheckBox* m_noResolve;
    LogicalRuleEditor* m_logical;
    QLabel* m_preview;
    QLabel* m_problem;
    QStringList m_extraOptions;
    bool m_syncing = false;
};

} // namespace tarnwick
