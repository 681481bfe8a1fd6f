#pragma once

#include "GuiAlertPresenter.h"
#include "KernelDownloadWindow.h"
#include "MainWindow.h"
#include "OnboardingWindow.h"
#include "UpdateWindow.h"
#include "app/Application.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace tarnwick {

class MenuBarManager;

// The desktop face of the application: the tray, the main window (opened on demand, destroyed when
// closed), onboarding, the kernel download window and the dialogs the tray and the pages share.
class DesktopFrontend final : public QObject, public Frontend
{
    Q_OBJECT

public:
    DesktopFrontend();
    ~DesktopFrontend() override;

    AlertPresenter& alertPresenter() override { return m_alerts; }
    void prepare(AppEnvironment& environment) override;
    void attach(AppState& state, std::function<void()> quit) override;
    void detach() override;
    void showWindow() override { openMainWindow(); }

    AppState& state() const { return *m_state; }
    MenuBarManager* menuBar() const { return m_menuBar.get(); }
    MainWindow* mainWindow() const { return m_mainWindow; }

    // Opens (or raises) the main window, on `page` when given.
    MainWindow& openMainWindow(const QString& page = {});
    void openOnboarding();
    // The kernel download window; once a kernel is installed the kernel is started again.
    void openKernelDownload();
    // The application's update window (a manual check opens it too).
    UpdateWindow& openUpdateWindow();
    void openFile(const QString& path);
    void revealFile(const QString& path);
    void importSubscription();
    void addLocalProfile();
    void quit();

    // The creation of the application object and the frontend, for tarnwick-app.
    static DesktopHooks hooks();

private:
    void showTrayFallback();

    GuiAlertPresenter m_alerts;
    AppState* m_state = nullptr;
    std::function<void()> m_quit;
    std::unique_ptr<MenuBarManager> m_menuBar;
    QPointer<MainWindow> m_mainWindow;
    QPointer<OnboardingWindow> m_onboarding;
    QPointer<KernelDownloadWindow> m_kernelDownload;
    QPointer<UpdateWindow> m_updateWindow;
};

} // namespace tarnwick
