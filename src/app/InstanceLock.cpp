#include "InstanceLock.h"

#include <QDir>

namespace tarnwick {

InstanceLock::InstanceLock(const QString& workspaceRoot)
    : m_root(workspaceRoot), m_lock(QDir(workspaceRoot).filePath(fileName))
{
    // Only a lock whose process is gone is stale, however old it is.
    m_lock.setStaleLockTime(0);
}

std::optional<qint64> InstanceLock::acquire()
{
    QDir().mkpath(m_root);
    if (m_lock.tryLock(0))
        return std::nullopt;
    qint64 pid = 0;
    QString host;
    QString application;
    m_lock.getLockInfo(&pid, &host, &application);
    return pid;
}

} // namespace tarnwick
