#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick {

// A modal alert as the user sees it; buttons in display order, the first one is the default.
struct Alert
{
    enum class Style
    {
        informational,
        warning,
        critical
    };

    QString title;
    QString text;
    Style style = Style::warning;
    QStringList buttons;

    bool operator==(const Alert&) const = default;
};

// Shows alerts: a message box in the GUI; the log when there is no window system.
class AlertPresenter
{
public:
    virtual ~AlertPresenter() = default;
    // Returns the index of the chosen button.
    virtual int present(const Alert& alert) = 0;
};

// Writes the alert to the log and answers with its default button.
class HeadlessAlertPresenter final : public AlertPresenter
{
public:
    int present(const Alert& alert) override;
};

} // namespace tarnwick
