#pragma once

#include "SettingValidation.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace tarnwick {

class Settings;

// One setting on a settings page: its label, a control of the setting's kind, "Reset to Default" and the
// message of its check. The control shows the default until the user changes it; only a change that passes
// the check writes the entry, and only that entry.
class SettingField final : public QWidget
{
    Q_OBJECT

public:
    enum class Kind
    {
        toggle, // boolean
        number, // integer
        choice, // one of a few texts
        line,   // one text
        lines,  // a list or a mapping, one entry per line
    };

    struct Definition
    {
        QString key;
        QString label;
        Kind kind = Kind::line;
        QString defaultValue; // "true"/"false" for toggles, digits for numbers
        QString hint;
        // Choices: the stored values and, when given, their labels.
        QStringList choices;
        QStringList choiceLabels;
        // Numbers: shown in the empty field when the entry was never written.
        QString placeholder;
        // Lines: the separator the entry is stored with, when not line breaks.
        QString separator;
        SettingValidation::Validator check;
    };

    // An engine setting: kind, default and check from its entry; `choices` make a text a choice.
    static Definition engine(const QString& key, const QString& label, const QString& hint = {},
                             const QStringList& choices = {});

    // A switch among the application's own settings, on or off while never written.
    static Definition toggle(const QString& key, const QString& label, bool defaultOn,
                             const QString& hint = {});

    SettingField(Settings& settings, Definition definition, QWidget* parent = nullptr);

    const QString& key() const { return m_definition.key; }
    // What the control holds, as it would be written.
    QString value() const;
    // Puts text into the control as if typed (or chosen, or toggled for "true"/"false").
    void setValue(const QString& text);
    // The message under the control; empty when the value passes.
    QString errorText() const;
    // A check of its own beside the setting's (a port another setting or program holds …).
    void setExtraCheck(SettingValidation::Validator check) { m_extraCheck = std::move(check); }
    // Writes the value when it changed and passes; whether the entry now holds it.
    bool commit();
    // Removes the entry: the default shows again.
    void resetToDefault();
    QWidget* control() const { return m_control; }

Q_SIGNALS:
    void committed(const QString& key);

private:
    // The value the control shows when it is not being edited: the entry or the default.
    QString storedValue() const;
    void showStored();
    void edited();
    void setError(const QString& message);

    Settings& m_settings;
    Definition m_definition;
    SettingValidation::Validator m_extraCheck;
    QWidget* m_control = nullptr;
    QCheckBox* m_toggle = nullptr;
    QComboBox* m_choice = nullptr;
    QLineEdit* m_line = nullptr;
    QPlainTextEdit* m_lines = nullptr;
    QToolButton* m_reset = nullptr;
    QLabel* m_error = nullptr;
    QString m_shown; // the value the control was last filled with
    QTimer m_commitDelay;
    bool m_filling = false;
};

} // namespace tarnwick
