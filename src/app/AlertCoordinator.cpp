#include "AlertCoordinator.h"

#include "platform/Logging.h"

namespace tarnwick {

int HeadlessAlertPresenter::present(const Alert& alert)
{
    qCWarning(lcAppState, "Alert \"%s\": %s", qUtf8Printable(alert.title), qUtf8Printable(alert.text));
    return 0;
}

Alert AlertCoordinator::alertFor(const AppError& error)
{
    const QString ok = QStringLiteral("OK");
    switch (error.kind()) {
    case AppError::Kind::permissionDenied:
        return {
            QStringLiteral("Helper Required"),
            QStringLiteral("This action requires the Privileged Helper. Please ensure it is installed and "
                           "enabled in Settings."),
            Alert::Style::critical,
            {QStringLiteral("Open Settings"), QStringLiteral("Cancel")}};
    case AppError::Kind::preflightFailed: {
        QString text = AppError::cleanMessage(error.message());
        if (text.contains(QLatin1String("unsupported type: smart")))
            text += QStringLiteral(
                "\n\n\U0001F4A1 Requires Smart kernel. Please switch channel in Advanced Settings.");
        return {QStringLiteral("Configuration Error"),
                text,
                Alert::Style::warning,
                {QStringLiteral("Edit Config"), ok}};
    }
    case AppError::Kind::kernelCrashed:
        return {QStringLiteral("Kernel Crashed"),
                AppError::cleanMessage(error.message()),
                Alert::Style::critical,
                {ok}};
    case AppError::Kind::operationFailed:
        return {QStringLiteral("Operation Failed"), error.message(), Alert::Style::warning, {ok}};
    case AppError::Kind::kernelMissing:
        break;
    }
    return {};
}

void AlertCoordinator::present(const AppError& error, const std::function<void()>& onEditConfig,
                               const std::function<void()>& onKernelMissing)
{
    if (error.kind() == AppError::Kind::kernelMissing) {
        if (onKernelMissing)
            onKernelMissing();
        return;
    }
    const Alert alert = alertFor(error);
    const int choice = m_presenter.present(alert);
    if (choice != 0)
        return;
    if (error.kind() == AppError::Kind::preflightFailed && onEditConfig)
        onEditConfig();
    else if (error.kind() == AppError::Kind::permissionDenied && m_openSettings)
        m_openSettings();
}

} // namespace tarnwick
