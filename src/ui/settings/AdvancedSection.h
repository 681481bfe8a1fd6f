#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace tarnwick {

class DesktopFrontend;
class SettingsForm;

// The "Advanced" settings: geodata, the kernel's own web interface and behaviour, and the traffic history
// (retention, its size and "Delete All Data").
class AdvancedSection final : public QWidget
{
    Q_OBJECT

public:
    explicit AdvancedSection(DesktopFrontend& frontend, QWidget* parent = nullptr);

    SettingsForm& form() const { return *m_form; }
    QComboBox& retention() const { return *m_retention; }
    QString flowRecordsText() const;
    QString databaseSizeText() const;
    // Asks once, then deletes every flow; the figures follow shortly after.
    void deleteAllData();
    // Reads the row count and size again.
    void refreshHistory();

private:
    DesktopFrontend& m_frontend;
    SettingsForm* m_form;
    QComboBox* m_retention;
    QLabel* m_flowRecords;
    QLabel* m_databaseSize;
    QPushButton* m_deleteAll;
};

} // namespace tarnwick
