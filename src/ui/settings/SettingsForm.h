#pragma once

#include "SettingField.h"

#include <QScrollArea>
#include <initializer_list>

class QVBoxLayout;

namespace tarnwick {

class Settings;

// The body of a settings section: titled groups of settings, one under the other, scrolling.
class SettingsForm final : public QScrollArea
{
    Q_OBJECT

public:
    // One engine setting as a section lists it.
    struct EngineRow
    {
        const char* key;
        const char* label;
        const char* hint = nullptr;
        QStringList choices = {};
    };

    SettingsForm(Settings& settings, QWidget* parent = nullptr);

    // Starts a group; what is added next goes into it.
    void addGroup(const QString& title, const QString& description = {});
    SettingField* addField(SettingField::Definition definition);
    void addEngineFields(std::initializer_list<EngineRow> rows);
    void addWidget(QWidget* widget);
    // Ends the form: the groups keep to the top.
    void finish();

    SettingField* field(const QString& key) const;
    const QList<SettingField*>& fields() const { return m_fields; }
    QWidget* body() const { return m_body; }

private:
    Settings& m_settings;
    QWidget* m_body;
    QVBoxLayout* m_layout;
    QVBoxLayout* m_group = nullptr;
    QList<SettingField*> m_fields;
};

} // namespace tarnwick
