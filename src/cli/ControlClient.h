#pragma once

#include "app/AppCommand.h"
#include "platform/Error.h"

#include <QString>

namespace tarnwick::cli {

// Nothing answers on the control socket: the application is not running (or left a stale socket).
class NotRunningError final : public Error
{
public:
    explicit NotRunningError(const QString& socketPath);
};

// The tool's side of the control socket: one connection per request, blocking until the answer.
class ControlClient final
{
public:
    explicit ControlClient(QString socketPath);

    // Throws NotRunningError when nothing listens, Error when the exchange fails.
    AppResponse send(const AppCommand& command) const;

private:
    QString m_socketPath;
};

} // namespace tarnwick::cli
