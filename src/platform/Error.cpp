#include "Error.h"

namespace tarnwick {

QString describe(const std::exception& e)
{
    if (const auto* error = dynamic_cast<const Error*>(&e))
        return error->description();
    return QString::fromUtf8(e.what());
}

} // namespace tarnwick
