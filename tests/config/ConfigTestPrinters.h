#pragma once

#include "config/yaml/NativeValue.h"

#include <QString>
#include <cmath>
#include <ostream>

// Readable failure messages for the Qt and plain-value types these tests compare.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace tarnwick {

inline void PrintTo(const NativeValue& value, std::ostream* out)
{
    if (value.isDouble() && !std::isfinite(value.toDouble()))
        *out << value.toDouble();
    else
        *out << value.toJson().toStdString();
}

} // namespace tarnwick
