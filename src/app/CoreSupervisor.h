#pragma once

#include "platform/AsyncMutex.h"
#include "config/ClashPaths.h"
#include "config/KernelRestarter.h"

#include <QCoro/QCoroTask>
#include <optional>

namespace tarnwick {

class CoreXPCLauncher;
class Settings;

// Owns the kernel process: builds its command line, has the helper launch or stop it and remembers the
// pid. One operation at a time; a start while running returns the running kernel's pid.
class CoreSupervisor final : public KernelRestarter
{
public:
    CoreSupervisor(ClashPaths paths, CoreXPCLauncher& launcher, Settings& settings);

    QCoro::Task<qint32> start();
    QCoro::Task<> stop();
    QCoro::Task<qint32> restart() override;

    std::optional<qint32> currentPID() const { return m_currentPID; }
    bool isRunning() const { return m_isRunning; }

private:
    QCoro::Task<qint32> startLocked();
    QCoro::Task<> stopLocked();

    ClashPaths m_paths;
    CoreXPCLauncher& m_launcher;
    Settings& m_settings;
    AsyncMutex m_mutex;
    std::optional<qint32> m_currentPID;
    bool m_isRunning = false;
};

} // namespace tarnwick
