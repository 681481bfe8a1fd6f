#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <qcoro/qcorotask.h>

class QLabel;
class QSortFilterProxyModel;
class QTabWidget;
class QTreeView;

namespace tarnwick {

class ConnectionListModel;
class ConnectionStore;

// The kernel's live connections — host, process, rule, chain, rates, totals, duration — sortable and
// filtered as you type, with closing one or all, and the recently closed ones beside them.
class RequestsPage final : public QWidget
{
    Q_OBJECT

public:
    explicit RequestsPage(ConnectionStore& store, QWidget* parent = nullptr);

    ConnectionListModel& activeModel() const { return *m_active; }
    ConnectionListModel& closedModel() const { return *m_closed; }
    QTreeView& activeView() const { return *m_activeView; }
    QTreeView& closedView() const { return *m_closedView; }
    // The line under the lists: the last failure, or why the list is not live.
    QString statusText() const;
    void closeSelected();
    void closeAll();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTreeView* makeView(QSortFilterProxyModel* proxy);
    void refreshActive();
    void refreshClosed();
    void updateTitles();
    void showError(const std::exception& error);
    void clearError();
    static QCoro::Task<> closeTask(QPointer<RequestsPage> self, QStringList ids);
    static QCoro::Task<> closeAllTask(QPointer<RequestsPage> self);

    ConnectionStore& m_store;
    ConnectionListModel* m_active;
    ConnectionListModel* m_closed;
    QSortFilterProxyModel* m_activeFilter;
    QSortFilterProxyModel* m_closedFilter;
    QTreeView* m_activeView;
    QTreeView* m_closedView;
    QTabWidget* m_tabs;
    QLabel* m_status;
    QString m_error;
    bool m_stale = false;
    QTimer m_clock;
};

} // namespace tarnwick
