#pragma once

#include "platform/Error.h"

namespace tarnwick {

// A failed application update check or update; the text is what the update window shows.
class AppUpdateError final : public Error
{
public:
    using Error::Error;
};

} // namespace tarnwick
