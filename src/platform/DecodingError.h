#pragma once

#include "platform/Error.h"

namespace tarnwick {

// A document from outside (a release feed's JSON) is not what its reader requires; the text says what is
// wrong and where.
class DecodingError final : public Error
{
public:
    using Error::Error;
};

} // namespace tarnwick
