#pragma once

#include "app/AppCommand.h"
#include "platform/Error.h"

#include <QString>
#include <chrono>
#include <optional>

namespace tarnwick::cli {

// Nothing answers on the control socket: the application is not running (or left a stale socket).
class NotRunningError final : public Error
{
public:
    explicit NotRunningError(const QString& socketPath);
};

// The tool's side of the control socket: one connection per request, blocking until the answer, but not
// beyond the command's bound: an application that takes the request and then stays silent is reported
// instead of hanging the tool.
class ControlClient final
{
public:
    // How long the application may take to answer the command: the installs wait for downloads, the
    // rest for the kernel at most.
    static std::chrono::milliseconds answerBound(const QString& command);

    // With no bound given, each command's own.
    explicit ControlClient(QString socketPath, std::optional<std::chrono::milliseconds> bound = std::nullopt);

    // Throws NotRunningError when nothing listens, Error when the exchange fails or the answer is late.
    AppResponse send(const AppCommand& command) const;

private:
    QString m_socketPath;
    std::optional<std::chrono::milliseconds> m_bound;
};

} // namespace tarnwick::cli
