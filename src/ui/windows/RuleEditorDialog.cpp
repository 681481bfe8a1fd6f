#include "RuleEditorDialog.h"

#include "LogicalRuleEditor.h"
#include "RuleDraft.h"
#include "controller/MihomoRuleType.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

RuleEditorDialog::RuleEditorDialog(const QStringList& policies, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Rule"));
    setMinimumWidth(520);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_type = new QComboBox(this);
    m_type->setAccessibleName(QStringLiteral("Type"));
    for (MihomoRuleType type : allMihomoRuleTypes())
        m_type->addItem(rawValue(type));
    m_payload = new QLineEdit(this);
    m_payload->setAccessibleName(QStringLiteral("Payload"));
    m_policy = new QComboBox(this);
    m_policy->setEditable(true);
    m_policy->setAccessibleName(QStringLiteral("Policy"));
    m_policy->addItems(policies);
    m_noResolve = new QCheckBox(QStringLiteral("Do not resolve the host name (no-resolve)"), this);
    m_noResolve->setAccessibleName(QStringLiteral("no-resolve"));
    form->addRow(QStringLiteral("&Type:"), m_type);
    form->addRow(QStringLiteral("&Payload:"), m_payload);
    form->addRow(QStringLiteral("P&olicy:"), m_policy);
    form->addRow(QString(), m_noResolve);
    layout->addLayout(form);
    m_logical = new LogicalRuleEditor(this);
    layout->addWidget(m_logical, 1);
    m_preview = new QLabel(this);
    m_preview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_preview->setAccessibleName(QStringLiteral("Rule text"));
    m_preview->setWordWrap(true);
    QFont mono = m_preview->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    m_preview->setFont(mono);
    layout->addWidget(m_preview);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setAccessibleName(QStringLiteral("Problem"));
    layout->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &RuleEditorDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_type, &QComboBox::currentTextChanged, this, &RuleEditorDialog::typeChanged);
    connect(m_payload, &QLineEdit::textChanged, this, [this] {
        if (!m_syncing && RuleDraft::isLogical(m_type->currentText())) {
            m_syncing = true;
            m_logical->setPayload(m_payload->text());
            m_syncing = false;
        }
        refresh();
    });
    connect(m_policy, &QComboBox::currentTextChanged, this, &RuleEditorDialog::refresh);
    connect(m_noResolve, &QCheckBox::toggled, this, &RuleEditorDialog::refresh);
    connect(m_logical, &LogicalRuleEditor::payloadChanged, this, [this] {
        if (m_syncing)
            return;
        m_syncing = true;
        m_payload->setText(m_logical->payload());
        m_syncing = false;
        refresh();
    });
    m_type->setCurrentText(QStringLiteral("DOMAIN-SUFFIX"));
    typeChanged();
}

void RuleEditorDialog::setRule(const QString& text)
{
    const RuleDraft draft = RuleDraft::parse(text);
    m_type->setCurrentText(draft.type);
    m_payload->setText(draft.payload);
    if (m_policy->findText(draft.policy) < 0)
        m_policy->addItem(draft.policy);
    m_policy->setCurrentText(draft.policy);
    m_noResolve->setChecked(draft.options.contains(QStringLiteral("no-resolve")));
    m_extraOptions = draft.options;
    m_extraOptions.removeAll(QStringLiteral("no-resolve"));
    refresh();
}

RuleDraft RuleEditorDialog::draft() const
{
    RuleDraft draft{m_type->currentText(), m_payload->text().trimmed(), m_policy->currentText().trimmed(),
                    m_extraOptions};
    if (m_noResolve->isVisibleTo(this) && m_noResolve->isChecked())
        draft.options.prepend(QStringLiteral("no-resolve"));
    return draft;
}

QString RuleEditorDialog::ruleText() const
{
    return draft().text();
}

QString RuleEditorDialog::problem() const
{
    return draft().problem();
}

void RuleEditorDialog::typeChanged()
{
    const QString type = m_type->currentText();
    const std::optional<MihomoRuleType> known = mihomoRuleTypeFromRaw(type);
    const bool logical = RuleDraft::isLogical(type);
    m_payload->setEnabled(!known || requiresPayload(*known));
    m_payload->setPlaceholderText(RuleDraft::placeholder(type));
    m_noResolve->setVisible(known && supportsNoResolve(*known));
    m_logical->setVisible(logical);
    if (logical && !m_syncing) {
        m_syncing = true;
        m_logical->setPayload(m_payload->text());
        m_syncing = false;
    }
    adjustSize();
    refresh();
}

void RuleEditorDialog::refresh()
{
    m_preview->setText(ruleText());
    const QString why = problem();
    m_problem->setText(why);
    m_problem->setVisible(!why.isEmpty());
}

void RuleEditorDialog::accept()
{
    refresh();
    if (problem().isEmpty())
        QDialog::accept();
}

} // namespace tarnwick
