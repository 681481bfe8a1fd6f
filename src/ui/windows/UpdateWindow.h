#pragma once

#include "update/AppUpdateResult.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QSpacerItem;
class QTextBrowser;

namespace tarnwick {

class AppUpdateFlow;

// The application's update window: follows the update flow through checking, the result with the release
// history, the download with its bytes, the three installing steps and a failure with its message.
class UpdateWindow final : public QDialog
{
    Q_OBJECT

public:
    explicit UpdateWindow(AppUpdateFlow& flow, QWidget* parent = nullptr);

    // Shows a phase; the window calls it on every change of the flow's.
    void render(const AppUpdatePhase& phase);
    QString headline() const;
    QString detail() const;
    QString historyText() const;
    QPushButton& actionButton() const { return *m_action; }

private:
    void act();

    AppUpdateFlow& m_flow;
    QLabel* m_headline;
    QLabel* m_detail;
    QProgressBar* m_progress;
    QTextBrowser* m_history;
    QSpacerItem* m_filler;
    QPushButton* m_action;
    AppUpdatePhase m_shown;
};

} // namespace tarnwick
