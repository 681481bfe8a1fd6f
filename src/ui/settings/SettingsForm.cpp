#include "SettingsForm.h"

#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace tarnwick {

SettingsForm::SettingsForm(Settings& settings, QWidget* parent)
    : QScrollArea(parent), m_settings(settings), m_body(new QWidget(this)), m_layout(new QVBoxLayout(m_body))
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    m_layout->setSpacing(12);
    setWidget(m_body);
}

void SettingsForm::addGroup(const QString& title, const QString& description)
{
    auto* box = new QGroupBox(title, m_body);
    box->setAccessibleName(title);
    m_group = new QVBoxLayout(box);
    if (!description.isEmpty()) {
        auto* text = new QLabel(description, box);
        text->setWordWrap(true);
        m_group->addWidget(text);
    }
    m_layout->addWidget(box);
}

SettingField* SettingsForm::addField(SettingField::Definition definition)
{
    auto* field = new SettingField(m_settings, std::move(definition), m_body);
    addWidget(field);
    m_fields.append(field);
    return field;
}

void SettingsForm::addEngineFields(std::initializer_list<EngineRow> rows)
{
    for (const EngineRow& row : rows) {
        addField(SettingField::engine(QLatin1String(row.key), QString::fromUtf8(row.label),
                                      row.hint ? QString::fromUtf8(row.hint) : QString(), row.choices));
    }
}

void SettingsForm::addWidget(QWidget* widget)
{
    if (!m_group)
        addGroup({});
    widget->setParent(m_group->parentWidget());
    m_group->addWidget(widget);
}

void SettingsForm::finish()
{
    m_layout->addStretch(1);
}

SettingField* SettingsForm::field(const QString& key) const
{
    for (SettingField* candidate : m_fields) {
        if (candidate->key() == key)
            return candidate;
    }
    return nullptr;
}

} // namespace tarnwick
