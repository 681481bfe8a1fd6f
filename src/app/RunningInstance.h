#pragma once

#include <QString>
#include <chrono>

namespace tarnwick {

// The application already running on a workspace, as a second launch on it sees it.
class RunningInstance final
{
public:
    // Asks the application of process `pid` listening on the control socket to bring its main window
    // forward; false when it does not answer within `bound`, runs without windows or is another one.
    static bool showWindow(const QString& socketPath, qint64 pid, std::chrono::milliseconds bound);
};

} // namespace tarnwick
