#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>
#include <qcoro/qcorotask.h>

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTreeView;

namespace tarnwick {

class DesktopFrontend;
class RuleEditSession;
class RuleEditorDialog;
class RuleListModel;

// The active profile's rules in file order with their all-time hits: add, edit, delete, enable or
// disable, move up and down. Every edit changes only the rule's line of the file and has the running
// kernel reload; when that fails the page says why and offers Undo, which puts the previous file back.
class RulesPage final : public QWidget
{
    Q_OBJECT

public:
    explicit RulesPage(DesktopFrontend& frontend, QWidget* parent = nullptr);
    ~RulesPage() override;

    RuleListModel& model() const { return *m_model; }
    QTreeView& view() const { return *m_view; }
    RuleEditSession& session() const { return *m_session; }
    // The outcome of the last edit (or why there is nothing to list).
    QString statusText() const;
    bool undoOffered() const;
    bool isBusy() const { return m_busy; }
    // The editor while it is open.
    RuleEditorDialog* editor() const;
    // Policies the editor offers: the running configuration's groups and proxies and the built-ins.
    QStringList policies() const;

    // The edits; each reloads the kernel when it runs and reports in the status line.
    QCoro::Task<> insertRule(QString text, qsizetype at);
    QCoro::Task<> updateRule(qsizetype index, QString text);
    QCoro::Task<> deleteRule(qsizetype index);
    QCoro::Task<> toggleRule(qsizetype index);
    QCoro::Task<> moveRule(qsizetype index, int offset);
    QCoro::Task<> undo();

    // Opens the editor on a new rule (placed after the selected one) or on an existing entry.
    void openEditor(std::optional<qsizetype> index);
    // Opens the editor on the rule the webpage capture left in the state, once nothing else is open.
    void openRequestedEditor();
    void deleteSelected();
    void refresh();

signals:
    void editFinished();
    void hitsLoaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::optional<qsizetype> selectedIndex() const;
    void select(qsizetype index);
    void selectionChanged();
    void loadHits();
    void setStatus(const QString& text);
    static QCoro::Task<> editTask(QPointer<RulesPage> self, std::function<void(const QString&)> edit,
                                  QString done, std::optional<qsizetype> selectAfter);
    static QCoro::Task<> undoTask(QPointer<RulesPage> self);

    DesktopFrontend& m_frontend;
    RuleEditSession* m_session;
    RuleListModel* m_model;
    QSortFilterProxyModel* m_filter;
    QTreeView* m_view;
    QLabel* m_status;
    QPushButton* m_undo;
    QList<QPushButton*> m_selectionButtons;
    QPushButton* m_add = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QPushButton* m_toggle = nullptr;
    QPointer<RuleEditorDialog> m_editor;
    bool m_busy = false;
    bool m_loadingHits = false;
};

} // namespace tarnwick
