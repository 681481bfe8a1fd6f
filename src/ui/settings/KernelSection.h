#pragma once

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tarnwick {

class DesktopFrontend;

// The "Kernel" settings: the release channel, the running and the installed kernels (newest first, the
// active one marked), checking for and installing a newer one with its progress, and rolling back to an
// installed version. A new kernel becomes active at once; the running one restarts on it.
class KernelSection final : public QWidget
{
    Q_OBJECT

public:
    explicit KernelSection(DesktopFrontend& frontend, QWidget* parent = nullptr);

    QString statusText() const;
    QString updateText() const;
    QString errorText() const;
    QListWidget& versions() const { return *m_versions; }
    QComboBox& channel() const { return *m_channel; }

    void checkForUpdates();
    void upgrade();
    // Activates the version selected in the list.
    void rollback();

private:
    void runtimeChanged();
    // The buttons, texts and progress; the list stays as it is.
    void updateControls();
    void refreshVersions();
    void refreshUpdate();
    static QCoro::Task<> checkTask(QPointer<KernelSection> self);
    static QCoro::Task<> rollbackTask(QPointer<KernelSection> self, QString version);

    DesktopFrontend& m_frontend;
    QLabel* m_running;
    QComboBox* m_channel;
    QPushButton* m_check;
    QPushButton* m_upgrade;
    QProgressBar* m_progress;
    QLabel* m_status;
    QLabel* m_update;
    QListWidget* m_versions;
    QPushButton* m_rollback;
    QLabel* m_error;
    bool m_checking = false;
    bool m_checked = false;
};

} // namespace tarnwick
