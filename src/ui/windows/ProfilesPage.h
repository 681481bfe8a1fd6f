#pragma once

#include "config/ProfileNode.h"

#include <QPointer>
#include <QWidget>
#include <optional>
#include <qcoro/qcorotask.h>

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QStackedLayout;
class QTreeView;

namespace tarnwick {

class DesktopFrontend;
class ProfileListModel;

// Local profiles and subscriptions: activate, update one or all, import, add a file, rename, delete, edit
// in the text editor, reveal in the file manager; quota and expiry of every subscription.
class ProfilesPage final : public QWidget
{
    Q_OBJECT

public:
    explicit ProfilesPage(DesktopFrontend& frontend, QWidget* parent = nullptr);

    ProfileListModel& model() const { return *m_model; }
    QTreeView& view() const { return *m_view; }
    // The text of the last failure, shown under the list; empty when the last operation succeeded.
    QString errorText() const;

    std::optional<ProfileNode> selectedProfile() const;
    void activateSelected();
    void updateSelected();
    void updateAll();
    void renameSelected();
    void deleteSelected();

private:
    void refresh();
    void selectionChanged();
    void setBusy(const QString& message);
    void finish(const QString& error);
    static QCoro::Task<> updateTask(QPointer<ProfilesPage> self, QList<ProfileNode> profiles);
    static QCoro::Task<> renameTask(QPointer<ProfilesPage> self, ProfileNode profile, QString name);
    static QCoro::Task<> removeTask(QPointer<ProfilesPage> self, ProfileNode profile);

    DesktopFrontend& m_frontend;
    ProfileListModel* m_model;
    QSortFilterProxyModel* m_filter;
    QTreeView* m_view;
    QStackedLayout* m_content;
    QLabel* m_status;
    QList<QPushButton*> m_selectionButtons;
    QPushButton* m_updateButton = nullptr;
    QPushButton* m_updateAllButton = nullptr;
    bool m_busy = false;
};

} // namespace tarnwick
