#pragma once

#include "config/RuleStore.h"

#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick {

// The visual editor of an AND/OR/NOT rule: its conditions as a tree, where a condition is TYPE and
// PAYLOAD or a nested AND/OR/NOT group of its own. The payload text follows every change.
class LogicalRuleEditor final : public QWidget
{
    Q_OBJECT

public:
    explicit LogicalRuleEditor(QWidget* parent = nullptr);

    // Shows the conditions of a logical payload ("((DOMAIN,example.com),(NETWORK,UDP))").
    void setPayload(const QString& payload);
    // The payload the tree stands for.
    QString payload() const;
    QTreeWidget& tree() const { return *m_tree; }

    // Adds a condition (or an empty AND group) to the selected group, else beside the selected
    // condition, else at the top.
    void addCondition(const QString& type, const QString& value);
    void addGroup(const QString& op);
    void removeSelected();

signals:
    void payloadChanged();

private:
    QTreeWidgetItem* targetGroup() const;
    void selectionChanged();
    void detailEdited();
    void load(QTreeWidgetItem* parent, const QList<LogicalRuleParser::Condition>& conditions);

    QTreeWidget* m_tree;
    QComboBox* m_kind;
    QLineEdit* m_value;
    QPushButton* m_remove;
    bool m_updating = false;
};

} // namespace tarnwick
