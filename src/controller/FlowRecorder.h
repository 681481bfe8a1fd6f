#pragma once

#include "ConnectionItem.h"

#include <QString>

namespace tarnwick {

// Where the connection store hands every connection it sees appear and disappear. The traffic history
// implements it; the controller layer stays free of the database.
class FlowRecorder
{
public:
    virtual ~FlowRecorder() = default;

    // Called on the main thread; implementations queue the write and return at once.
    virtual void recordOpened(const ConnectionItem& item, qint64 sessionID, const QString& profileName) = 0;
    virtual void recordClosed(const ConnectionItem& item) = 0;
};

} // namespace tarnwick
