#pragma once

#include <QCoro/QCoroTask>

namespace tarnwick {

// What the profile store needs of the kernel supervisor: a restart on the freshly compiled configuration.
class KernelRestarter
{
public:
    virtual ~KernelRestarter() = default;
    // The new kernel's pid.
    virtual QCoro::Task<qint32> restart() = 0;
};

} // namespace tarnwick
