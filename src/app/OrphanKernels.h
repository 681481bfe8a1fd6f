#pragma once

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>
#include <sys/types.h>

namespace tarnwick {

// Kernels left over from an earlier session of one workspace: processes of this user whose command line
// holds "-d" followed by exactly that workspace's work directory, configuration tests ("-t") aside. Found
// in /proc, so that nothing of another user, another workspace or another tool is ever touched.
namespace OrphanKernels {

QList<qint32> find(const QString& workDirectory, uid_t user);

// SIGKILL to each of this user's orphans of the workspace, then a bounded wait until they are gone; the
// pids it killed.
QCoro::Task<QList<qint32>> stop(QString workDirectory);

} // namespace OrphanKernels
} // namespace tarnwick
