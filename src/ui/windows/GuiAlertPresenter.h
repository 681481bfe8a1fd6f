#pragma once

#include "app/Alert.h"

namespace tarnwick {

// Shows an alert as a modal message box, its buttons in the alert's order, the first the default.
class GuiAlertPresenter final : public AlertPresenter
{
public:
    int present(const Alert& alert) override;
};

} // namespace tarnwick
