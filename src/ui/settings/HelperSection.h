#pragma once

#include "app/HelperClient.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWidget>

class QLabel;
class QProcess;
class QPushButton;

namespace tarnwick {

class DesktopFrontend;

// The "Helper" settings: whether the helper that starts the kernel is registered, answers and matches
// this build (with register / re-register), and the privileged mode TUN needs, installed or removed with
// administrator rights.
class HelperSection final : public QWidget
{
    Q_OBJECT

public:
    explicit HelperSection(DesktopFrontend& frontend, QWidget* parent = nullptr);

    // The words for a status; `version` is the helper's when it answered.
    static QString statusText(HelperStatus status, const QString& version);
    // The administrator command that installs or removes the privileged mode.
    static QStringList privilegedCommand(const QString& helperExecutable, bool install);

    QString status() const;
    QString privilegedStatus() const;
    QString errorText() const;
    // Checks the helper again.
    void refresh();
    // Registers the helper (again) and checks it.
    void registerHelper();
    void togglePrivilegedMode();

private:
    static QCoro::Task<> refreshTask(QPointer<HelperSection> self);
    static QCoro::Task<> registerTask(QPointer<HelperSection> self);
    void refreshPrivileged();
    void setBusy(bool busy);

    DesktopFrontend& m_frontend;
    QLabel* m_status;
    QPushButton* m_register;
    QLabel* m_privileged;
    QPushButton* m_privilegedButton;
    QLabel* m_error;
    QPointer<QProcess> m_admin;
    bool m_busy = false;
};

} // namespace tarnwick
