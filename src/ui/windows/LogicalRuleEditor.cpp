#include "LogicalRuleEditor.h"

#include "RuleDraft.h"
#include "controller/MihomoRuleType.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

constexpr int kGroupRole = Qt::UserRole + 1;

bool isGroup(const QTreeWidgetItem* item)
{
    return item && item->data(0, kGroupRole).toBool();
}

QTreeWidgetItem* makeGroup(const QString& op)
{
    auto* item = new QTreeWidgetItem(QStringList{op, {}});
    item->setData(0, kGroupRole, true);
    item->setExpanded(true);
    return item;
}

QTreeWidgetItem* makeCondition(const QString& type, const QString& value)
{
    return new QTreeWidgetItem(QStringList{type, value});
}

QList<LogicalRuleParser::Condition> conditionsOf(const QTreeWidgetItem* parent, const QTreeWidget* tree)
{
    QList<LogicalRuleParser::Condition> conditions;
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem* item = parent ? parent->child(i) : tree->topLevelItem(i);
        if (isGroup(item))
            conditions.append({{}, item->text(0), conditionsOf(item, tree)});
        else
            conditions.append({item->text(0) + QLatin1Char(',') + item->text(1).trimmed(), {}, {}});
    }
    return conditions;
}

QStringList conditionTypes()
{
    QStringList types;
    for (MihomoRuleType type : allMihomoRuleTypes())
        if (type != MihomoRuleType::match && !RuleDraft::isLogical(rawValue(type)))
            types.append(rawValue(type));
    return types;
}

} // namespace

LogicalRuleEditor::LogicalRuleEditor(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tree = new QTreeWidget(this);
    m_tree->setHeaderLabels({QStringLiteral("Condition"), QStringLiteral("Payload")});
    m_tree->setAccessibleName(QStringLiteral("Conditions"));
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->setMinimumHeight(140);
    layout->addWidget(m_tree, 1);

    auto* detail = new QHBoxLayout;
    m_kind = new QComboBox(this);
    m_kind->setAccessibleName(QStringLiteral("Condition type"));
    m_value = new QLineEdit(this);
    m_value->setAccessibleName(QStringLiteral("Condition payload"));
    detail->addWidget(m_kind);
    detail->addWidget(m_value, 1);
    layout->addLayout(detail);

    auto* buttons = new QHBoxLayout;
    auto* addCondition = new QPushButton(QStringLiteral("Add Condition"), this);
    auto* addGroup = new QPushButton(QStringLiteral("Add Group"), this);
    m_remove = new QPushButton(QStringLiteral("Remove"), this);
    for (QPushButton* button : {addCondition, addGroup, m_remove}) {
        button->setAccessibleName(button->text());
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(addCondition, &QPushButton::clicked, this,
            [this] { this->addCondition(QStringLiteral("DOMAIN"), QStringLiteral("example.com")); });
    connect(addGroup, &QPushButton::clicked, this, [this] { this->addGroup(QStringLiteral("AND")); });
    connect(m_remove, &QPushButton::clicked, this, &LogicalRuleEditor::removeSelected);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &LogicalRuleEditor::selectionChanged);
    connect(m_kind, &QComboBox::currentTextChanged, this, &LogicalRuleEditor::detailEdited);
    connect(m_value, &QLineEdit::textEdited, this, &LogicalRuleEditor::detailEdited);
    selectionChanged();
}

void LogicalRuleEditor::setPayload(const QString& payload)
{
    m_updating = true;
    m_tree->clear();
    if (!payload.trimmed().isEmpty())
        load(nullptr, LogicalRuleParser::decompose(payload));
    m_tree->expandAll();
    m_updating = false;
    selectionChanged();
}

void LogicalRuleEditor::load(QTreeWidgetItem* parent, const QList<LogicalRuleParser::Condition>& conditions)
{
    for (const LogicalRuleParser::Condition& condition : conditions) {
        QTreeWidgetItem* item = nullptr;
        if (condition.logical.isEmpty()) {
            const qsizetype comma = condition.text.indexOf(QLatin1Char(','));
            item = comma < 0 ? makeCondition(condition.text, {})
                             : makeCondition(condition.text.left(comma), condition.text.mid(comma + 1));
        } else {
            item = makeGroup(condition.logical);
            load(item, condition.operands);
        }
        if (parent)
            parent->addChild(item);
        else
            m_tree->addTopLevelItem(item);
    }
}

QString LogicalRuleEditor::payload() const
{
    return RuleDraft::logicalPayload(conditionsOf(nullptr, m_tree));
}

QTreeWidgetItem* LogicalRuleEditor::targetGroup() const
{
    QTreeWidgetItem* current = m_tree->currentItem();
    if (isGroup(current))
        return current;
    return current ? current->parent() : nullptr;
}

void LogicalRuleEditor::addCondition(const QString& type, const QString& value)
{
    QTreeWidgetItem* item = makeCondition(type, value);
    if (QTreeWidgetItem* group = targetGroup()) {
        group->addChild(item);
        group->setExpanded(true);
    } else {
        m_tree->addTopLevelItem(item);
    }
    m_tree->setCurrentItem(item);
    emit payloadChanged();
}

void LogicalRuleEditor::addGroup(const QString& op)
{
    QTreeWidgetItem* item = makeGroup(op);
    if (QTreeWidgetItem* group = targetGroup())
        group->addChild(item);
    else
        m_tree->addTopLevelItem(item);
    item->setExpanded(true);
    m_tree->setCurrentItem(item);
    emit payloadChanged();
}

void LogicalRuleEditor::removeSelected()
{
    delete m_tree->currentItem();
    emit payloadChanged();
}

void LogicalRuleEditor::selectionChanged()
{
    const QTreeWidgetItem* item = m_tree->currentItem();
    m_updating = true;
    m_kind->clear();
    if (isGroup(item))
        m_kind->addItems({QStringLiteral("AND"), QStringLiteral("OR"), QStringLiteral("NOT")});
    else
        m_kind->addItems(conditionTypes());
    m_kind->setEnabled(item != nullptr);
    m_value->setEnabled(item && !isGroup(item));
    m_remove->setEnabled(item != nullptr);
    if (item) {
        m_kind->setCurrentText(item->text(0));
        m_value->setText(isGroup(item) ? QString() : item->text(1));
        m_value->setPlaceholderText(RuleDraft::placeholder(item->text(0)));
    } else {
        m_value->clear();
    }
    m_updating = false;
}

void LogicalRuleEditor::detailEdited()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (m_updating || !item)
        return;
    item->setText(0, m_kind->currentText());
    if (!isGroup(item)) {
        item->setText(1, m_value->text());
        m_value->setPlaceholderText(RuleDraft::placeholder(item->text(0)));
    }
    emit payloadChanged();
}

} // namespace tarnwick
