#pragma once

#include "platform/Error.h"

namespace tarnwick {

// A file-system failure while laying out the workspace; the text names the path and the system's reason.
class WorkspaceError final : public Error
{
public:
    using Error::Error;
};

} // namespace tarnwick
