#pragma once

#include "ui/models/ProxyTreeModel.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <qcoro/qcorotask.h>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QStackedLayout;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick {

class AppState;
class ProxyStore;

// The proxy groups in the profile's order with their type, selection and effective delay, the members
// with their delays (select with a click), latency tests of a group or all, the providers with update and
// health check, the outbound mode, and the hide-unavailable and show-hidden switches.
class PolicyPage final : public QWidget
{
    Q_OBJECT

public:
    static inline const QString localProxiesTitle = QStringLiteral("Local Proxies");

    explicit PolicyPage(AppState& state, QWidget* parent = nullptr);

    ProxyTreeModel& model() const { return *m_model; }
    QTreeView& view() const { return *m_view; }
    QTreeWidget& providers() const { return *m_providers; }
    // The line under the lists: the last failure, or why the groups may be out of date.
    QString statusText() const;
    // What the store shows now, as the tree's rows.
    QList<ProxyTreeModel::Group> rows() const;
    void refresh();
    // A member: selects it; a group: opens or closes it.
    void activate(const QModelIndex& index);
    // The group of the current row.
    void testCurrentGroup();
    void testAll();
    void updateCurrentProvider();
    void checkCurrentProvider();

private:
    void scheduleRefresh();
    void refreshProviders();
    void refreshMode();
    void showError(const QString& action, const std::exception& error);
    QString currentProvider() const;
    static QCoro::Task<> selectTask(QPointer<PolicyPage> self, QString group, QString member);
    static QCoro::Task<> modeTask(QPointer<PolicyPage> self, int mode);
    static QCoro::Task<> groupTestTask(QPointer<PolicyPage> self, QString group);
    static QCoro::Task<> allTestTask(QPointer<PolicyPage> self);
    static QCoro::Task<> providerTask(QPointer<PolicyPage> self, QString provider, bool update);

    AppState& m_state;
    ProxyStore& m_store;
    ProxyTreeModel* m_model;
    QSortFilterProxyModel* m_filter;
    QTreeView* m_view;
    QTreeWidget* m_providers;
    QWidget* m_providerBox;
    QHash<QString, QTreeWidgetItem*> m_providerItems;
    QButtonGroup* m_modes;
    QCheckBox* m_hideUnavailable;
    QCheckBox* m_showHidden;
    QPushButton* m_testGroup;
    QStackedLayout* m_content;
    QLabel* m_empty;
    QLabel* m_status;
    QString m_error;
    // Test results arrive one by one; the tree follows them at most every refreshDelay.
    QTimer m_refreshTimer;
};

} // namespace tarnwick
