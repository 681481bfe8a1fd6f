#pragma once

#include <QLoggingCategory>
#include <QString>

// One logging category per component, named "app.tarnwick.<Component>".
Q_DECLARE_LOGGING_CATEGORY(lcAppState)
Q_DECLARE_LOGGING_CATEGORY(lcCoreSupervisor)
Q_DECLARE_LOGGING_CATEGORY(lcConfigValidator)
Q_DECLARE_LOGGING_CATEGORY(lcHelper)
Q_DECLARE_LOGGING_CATEGORY(lcIPC)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcWorkspace)
Q_DECLARE_LOGGING_CATEGORY(lcProfiles)
Q_DECLARE_LOGGING_CATEGORY(lcController)
Q_DECLARE_LOGGING_CATEGORY(lcRuntime)
Q_DECLARE_LOGGING_CATEGORY(lcAppUpdateService)

namespace tarnwick {

// Developer diagnostics go to standard output with a bracketed component prefix, e.g.
// printDiagnostic("[ConnectionStore] Stream ended with error: " + description).
void printDiagnostic(const QString& line);

// Installs the message format used by the executables: time, category, level, text.
void installLogFormat();

} // namespace tarnwick
