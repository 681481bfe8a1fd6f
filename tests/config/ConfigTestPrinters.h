#pragma once

#include "config/yaml/NativeValue.h"
#include "support/QtPrinters.h"

#include <cmath>
#include <ostream>

// Readable failure messages for the plain values these tests compare.

namespace tarnwick {

inline void PrintTo(const NativeValue& value, std::ostream* out)
{
    if (value.isDouble() && !std::isfinite(value.toDouble()))
        *out << value.toDouble();
    else
        *out << value.toJson().toStdString();
}

} // namespace tarnwick
