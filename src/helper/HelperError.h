#pragma once

#include "platform/Error.h"

namespace tarnwick {

// A failure inside the helper: a refused or failed operation (its text goes back to the application), or
// a socket the helper cannot listen on.
class HelperError final : public Error
{
public:
    using Error::Error;
};

} // namespace tarnwick
