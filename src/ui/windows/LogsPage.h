#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTreeView;

namespace tarnwick {

class AppState;
class LogListModel;

// The kernel's log: level picker, pause and resume, filter, clear, and export to a text file.
class LogsPage final : public QWidget
{
    Q_OBJECT

public:
    explicit LogsPage(AppState& state, QWidget* parent = nullptr);

    LogListModel& model() const { return *m_model; }
    bool isPaused() const;
    void setPaused(bool paused);
    void setLevel(const QString& level);
    QString statusText() const;
    // Writes the entries to `path`; the failure's text, or empty.
    QString exportTo(const QString& path);

private:
    void refresh();
    void refreshStatus();
    void showPaused();
    void chooseExportFile();

    AppState& m_state;
    LogListModel* m_model;
    QSortFilterProxyModel* m_filter;
    QTreeView* m_view;
    QComboBox* m_level;
    QPushButton* m_pause;
    QLabel* m_status;
    // The last export's outcome, shown until the next act.
    QString m_message;
};

} // namespace tarnwick
