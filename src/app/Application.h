#pragma once

#include <QCoreApplication>
#include <functional>
#include <memory>

namespace tarnwick {

class AlertPresenter;
class AppState;
struct AppEnvironment;

// The tray and the windows, as tarnwick-app sees them; the widgets library implements it.
class Frontend
{
public:
    virtual ~Frontend() = default;
    virtual AlertPresenter& alertPresenter() = 0;
    // Installs the window actions AppState calls ("Edit Config", a missing kernel, onboarding).
    virtual void prepare(AppEnvironment& environment) = 0;
    // The state exists: the tray and the windows come up. `quit` shuts the application down.
    virtual void attach(AppState& state, std::function<void()> quit) = 0;
    // Opens the main window (--window).
    virtual void showWindow() = 0;
    // The state is about to go: the tray and every window close.
    virtual void detach() = 0;
};

// How the executable gets a window system; without one it runs headless.
struct DesktopHooks
{
    std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)> createApplication;
    std::function<std::unique_ptr<Frontend>()> createFrontend;
};

// The whole tarnwick-app executable: options, the application object, AppState, the event loop. With
// `desktop`, the tray and windows unless --headless is given or there is no display.
int runApplication(int argc, char** argv, const DesktopHooks& desktop = {});

} // namespace tarnwick
