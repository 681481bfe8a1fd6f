#pragma once

#include "config/yaml/NativeValue.h"

#include <QString>
#include <ostream>

// Readable failure messages for the types these tests compare.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace tarnwick {
inline void PrintTo(const NativeValue& value, std::ostream* out)
{
    *out << (value.type() == NativeValue::Type::Double && !std::isfinite(value.toDouble())
                 ? std::to_string(value.toDouble())
                 : value.toJson().toStdString());
}
} // namespace tarnwick
