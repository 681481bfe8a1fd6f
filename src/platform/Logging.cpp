#include "Logging.h"

#include <cstdio>

Q_LOGGING_CATEGORY(lcAppState, "app.tarnwick.AppState")
Q_LOGGING_CATEGORY(lcCoreSupervisor, "app.tarnwick.CoreSupervisor")
Q_LOGGING_CATEGORY(lcConfigValidator, "app.tarnwick.ConfigValidator")
Q_LOGGING_CATEGORY(lcHelper, "app.tarnwick.Helper")
Q_LOGGING_CATEGORY(lcIPC, "app.tarnwick.IPC")
Q_LOGGING_CATEGORY(lcSettings, "app.tarnwick.Settings")
Q_LOGGING_CATEGORY(lcWorkspace, "app.tarnwick.Workspace")
Q_LOGGING_CATEGORY(lcProfiles, "app.tarnwick.Profiles")
Q_LOGGING_CATEGORY(lcController, "app.tarnwick.Controller")
Q_LOGGING_CATEGORY(lcRuntime, "app.tarnwick.Runtime")
Q_LOGGING_CATEGORY(lcAppUpdateService, "app.tarnwick.AppUpdateService")

namespace tarnwick {

void printDiagnostic(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void installLogFormat()
{
    qSetMessagePattern(
        QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} "
                       "%{if-debug}debug%{endif}%{if-info}info%{endif}%{if-warning}warning%{endif}"
                       "%{if-critical}error%{endif}%{if-fatal}fatal%{endif}: %{message}"));
}

} // namespace tarnwick
