#pragma once

#include <QLockFile>
#include <QString>
#include <optional>

namespace tarnwick {

// One application per workspace: a lock file in the workspace root, held while the application runs. A
// lock left behind by an application that was killed names a process that is gone and is taken over.
class InstanceLock final
{
public:
    explicit InstanceLock(const QString& workspaceRoot);

    // Nothing once this process holds the lock; otherwise the pid of the application holding it (0 when
    // the lock file does not say).
    std::optional<qint64> acquire();

    static inline const QString fileName = QStringLiteral("tarnwick.lock");

private:
    QString m_root;
    QLockFile m_lock;
};

} // namespace tarnwick
