#pragma once

#include "Alert.h"
#include "AppError.h"

#include <functional>

namespace tarnwick {

// Turns application errors into alerts and runs the follow-up the user chose.
class AlertCoordinator final
{
public:
    explicit AlertCoordinator(AlertPresenter& presenter) : m_presenter(presenter) {}

    // kernelMissing shows nothing and runs onKernelMissing; "Edit Config" runs onEditConfig.
    void present(const AppError& error, const std::function<void()>& onEditConfig,
                 const std::function<void()>& onKernelMissing);
    // What "Open Settings" does; the windows install it.
    void setSettingsOpener(std::function<void()> openSettings) { m_openSettings = std::move(openSettings); }
    // Any other alert (boot prompts): the index of the chosen button.
    int show(const Alert& alert) { return m_presenter.present(alert); }

    // The alert an error is shown as; kernelMissing has none (empty title).
    static Alert alertFor(const AppError& error);

private:
    AlertPresenter& m_presenter;
    std::function<void()> m_openSettings;
};

} // namespace tarnwick
