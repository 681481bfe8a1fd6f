#include "SettingField.h"

#include "config/EngineSettings.h"
#include "platform/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

using C = EngineSettings::Conversion;

constexpr int labelWidth = 230;
// A text entry is written once the user pauses; the kernel's own reload waits longer still.
constexpr std::chrono::milliseconds commitQuietPeriod{800};

// Lists are edited one entry per line, whichever separator the stored text uses.
bool splitsAtCommas(const QString& key)
{
    const EngineSettings::Setting* setting = EngineSettings::find(key);
    return setting && (setting->conversion == C::List || setting->conversion == C::Ports);
}

QString linesOf(const QString& text)
{
    QStringList kept;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("\\r\\n|\\r|\\n")))) {
        if (const QString trimmed = line.trimmed(); !trimmed.isEmpty())
            kept.append(trimmed);
    }
    return kept.join(u'\n');
}

} // namespace

SettingField::Definition SettingField::engine(const QString& key, const QString& label, const QString& hint,
                                              const QStringList& choices)
{
    const EngineSettings::Setting* setting = EngineSettings::find(key);
    Q_ASSERT(setting);
    Definition definition;
    definition.key = key;
    definition.label = label;
    definition.hint = hint;
    definition.defaultValue = QString::fromUtf8(setting->defaultValue);
    definition.check = SettingValidation::forKey(key);
    switch (setting->conversion) {
    case C::Bool:
        definition.kind = Kind::toggle;
        break;
    case C::Int:
        definition.kind = Kind::number;
        // A port never written stays closed; other numbers never written leave the kernel's own default.
        definition.placeholder = setting->fallback                     ? QString::fromUtf8(setting->fallback)
                                 : key.endsWith(QLatin1String("Port")) ? QStringLiteral("Off")
                                                                       : definition.defaultValue;
        break;
    case C::List:
    case C::Ports:
    case C::Policy:
    case C::Hosts:
        definition.kind = Kind::lines;
        break;
    case C::Text:
    case C::Opt:
    case C::None:
        definition.kind = choices.isEmpty() ? Kind::line : Kind::choice;
        definition.choices = choices;
        break;
    }
    return definition;
}

SettingField::Definition SettingField::toggle(const QString& key, const QString& label, bool defaultOn,
                                              const QString& hint)
{
    Definition definition;
    definition.key = key;
    definition.label = label;
    definition.kind = Kind::toggle;
    definition.defaultValue = defaultOn ? QStringLiteral("true") : QStringLiteral("false");
    definition.hint = hint;
    return definition;
}

SettingField::SettingField(Settings& settings, Definition definition, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_definition(std::move(definition))
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 2, 0, 2);
    outer->setSpacing(2);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(m_definition.label, this);
    label->setFixedWidth(labelWidth);
    label->setWordWrap(true);
    row->addWidget(label, 0,
                   m_definition.kind == Kind::lines ? Qt::Alignment(Qt::AlignTop) : Qt::Alignment());

    switch (m_definition.kind) {
    case Kind::toggle:
        m_toggle = new QCheckBox(this);
        m_control = m_toggle;
        connect(m_toggle, &QCheckBox::toggled, this, &SettingField::edited);
        break;
    case Kind::choice:
        m_choice = new QComboBox(this);
        for (qsizetype i = 0; i < m_definition.choices.size(); ++i)
            m_choice->addItem(m_definition.choiceLabels.value(i, m_definition.choices[i]),
                              m_definition.choices[i]);
        m_control = m_choice;
        connect(m_choice, &QComboBox::currentIndexChanged, this, &SettingField::edited);
        break;
    case Kind::number:
    case Kind::line:
        m_line = new QLineEdit(this);
        m_line->setPlaceholderText(m_definition.placeholder);
        if (m_definition.kind == Kind::number)
            m_line->setMaximumWidth(120);
        m_control = m_line;
        connect(m_line, &QLineEdit::textEdited, this, &SettingField::edited);
        connect(m_line, &QLineEdit::editingFinished, this, &SettingField::commit);
        break;
    case Kind::lines:
        m_lines = new QPlainTextEdit(this);
        m_lines->setTabChangesFocus(true);
        m_lines->setFixedHeight(m_lines->fontMetrics().lineSpacing() * 4 + 12);
        m_control = m_lines;
        connect(m_lines, &QPlainTextEdit::textChanged, this, &SettingField::edited);
        break;
    }
    m_control->setAccessibleName(m_definition.label);
    m_control->setToolTip(m_definition.hint);
    row->addWidget(m_control, m_definition.kind == Kind::toggle ? 0 : 1);
    if (m_definition.kind == Kind::toggle || m_definition.kind == Kind::number)
        row->addStretch(1);
    m_reset = new QToolButton(this);
    m_reset->setIcon(QIcon::fromTheme(QStringLiteral("edit-undo")));
    m_reset->setText(QStringLiteral("Reset"));
    m_reset->setToolTip(QStringLiteral("Reset to Default"));
    m_reset->setAccessibleName(QStringLiteral("Reset %1 to Default").arg(m_definition.label));
    m_reset->setAutoRaise(true);
    row->addWidget(m_reset, 0, Qt::AlignTop);
    connect(m_reset, &QToolButton::clicked, this, &SettingField::resetToDefault);
    outer->addLayout(row);

    auto* notes = new QVBoxLayout;
    notes->setContentsMargins(labelWidth + row->spacing(), 0, 0, 0);
    if (!m_definition.hint.isEmpty()) {
        auto* hint = new QLabel(m_definition.hint, this);
        hint->setWordWrap(true);
        hint->setForegroundRole(QPalette::PlaceholderText);
        QFont small = hint->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        hint->setFont(small);
        notes->addWidget(hint);
    }
    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->setAccessibleName(QStringLiteral("%1 error").arg(m_definition.label));
    m_error->hide();
    notes->addWidget(m_error);
    outer->addLayout(notes);

    m_commitDelay.setSingleShot(true);
    m_commitDelay.setInterval(commitQuietPeriod);
    connect(&m_commitDelay, &QTimer::timeout, this, &SettingField::commit);
    connect(&m_settings, &Settings::changed, this, [this](const QString& changed) {
        // Changed elsewhere (the command-line tool, the tray): follow it unless the user is mid-edit.
        if (changed == m_definition.key && value() == m_shown && storedValue() != m_shown)
            showStored();
    });
    showStored();
}

QString SettingField::storedValue() const
{
    const QString& key = m_definition.key;
    switch (m_definition.kind) {
    case Kind::toggle:
        if (const std::optional<bool> stored = m_settings.boolean(key))
            return *stored ? QStringLiteral("true") : QStringLiteral("false");
        return m_definition.defaultValue;
    case Kind::number:
        if (const std::optional<qint64> stored = m_settings.integer(key))
            return QString::number(*stored);
        return {};
    case Kind::choice:
    case Kind::line:
        return m_settings.text(key, m_definition.defaultValue);
    case Kind::lines: {
        QString text = m_settings.text(key, m_definition.defaultValue);
        if (!m_definition.separator.isEmpty() || splitsAtCommas(key))
            text.replace(u',', u'\n');
        return linesOf(text);
    }
    }
    return {};
}

void SettingField::showStored()
{
    m_filling = true;
    const QString stored = storedValue();
    switch (m_definition.kind) {
    case Kind::toggle:
        m_toggle->setChecked(stored == QLatin1String("true"));
        break;
    case Kind::choice: {
        int index = m_choice->findData(stored);
        if (index < 0) {
            // A value written elsewhere that the list does not offer is shown as it is.
            m_choice->addItem(stored, stored);
            index = m_choice->count() - 1;
        }
        m_choice->setCurrentIndex(index);
        break;
    }
    case Kind::number:
    case Kind::line:
        m_line->setText(stored);
        break;
    case Kind::lines:
        m_lines->setPlainText(stored);
        break;
    }
    m_filling = false;
    m_shown = value();
    m_reset->setEnabled(m_settings.contains(m_definition.key));
    setError({});
}

QString SettingField::value() const
{
    switch (m_definition.kind) {
    case Kind::toggle:
        return m_toggle->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::choice:
        return m_choice->currentData().toString();
    case Kind::number:
    case Kind::line:
        return m_line->text().trimmed();
    case Kind::lines:
        return linesOf(m_lines->toPlainText());
    }
    return {};
}

void SettingField::setValue(const QString& text)
{
    switch (m_definition.kind) {
    case Kind::toggle:
        m_toggle->setChecked(text == QLatin1String("true"));
        break;
    case Kind::choice:
        m_choice->setCurrentIndex(m_choice->findData(text));
        break;
    case Kind::number:
    case Kind::line:
        m_line->setText(text);
        edited();
        break;
    case Kind::lines:
        m_lines->setPlainText(text);
        break;
    }
}

QString SettingField::errorText() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

void SettingField::setError(const QString& message)
{
    m_error->setText(message);
    m_error->setVisible(!message.isEmpty());
}

void SettingField::edited()
{
    if (m_filling)
        return;
    if (m_definition.kind == Kind::toggle || m_definition.kind == Kind::choice) {
        commit();
        return;
    }
    const QString current = value();
    QString problem = m_definition.check ? m_definition.check(current) : QString();
    if (problem.isEmpty() && m_extraCheck && current != m_shown)
        problem = m_extraCheck(current);
    setError(problem);
    if (problem.isEmpty())
        m_commitDelay.start();
    else
        m_commitDelay.stop();
}

bool SettingField::commit()
{
    m_commitDelay.stop();
    const QString current = value();
    if (current == m_shown)
        return m_error->isHidden();
    QString problem = m_definition.check ? m_definition.check(current) : QString();
    if (problem.isEmpty() && m_extraCheck)
        problem = m_extraCheck(current);
    setError(problem);
    if (!problem.isEmpty())
        return false;
    m_shown = current;
    switch (m_definition.kind) {
    case Kind::toggle:
        m_settings.setBoolean(m_definition.key, current == QLatin1String("true"));
        break;
    case Kind::number:
        m_settings.setInteger(m_definition.key, current.isEmpty() ? 0 : current.toLongLong());
        break;
    case Kind::choice:
    case Kind::line:
        m_settings.setText(m_definition.key, current);
        break;
    case Kind::lines:
        m_settings.setText(m_definition.key,
                           m_definition.separator.isEmpty()
                               ? current
                               : current.split(u'\n', Qt::SkipEmptyParts).join(m_definition.separator));
        break;
    }
    m_reset->setEnabled(true);
    Q_EMIT committed(m_definition.key);
    return true;
}

void SettingField::resetToDefault()
{
    m_commitDelay.stop();
    m_settings.remove(m_definition.key);
    showStored();
    Q_EMIT committed(m_definition.key);
}

} // namespace tarnwick
