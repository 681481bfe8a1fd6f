#pragma once

#include "config/yaml/Mark.h"
#include "config/yaml/NativeValue.h"
#include "config/yaml/Parser.h"
#include "config/yaml/YAMLError.h"

#include <QString>
#include <cmath>
#include <ostream>

// Readable failure messages for the types these tests compare, and small helpers shared by the tests.
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

inline void PrintTo(const Mark& mark, std::ostream* out)
{
    *out << mark.toString().toStdString() << " @" << mark.utf8Offset;
}

namespace test {

// The description of the YAMLError that composing all documents of a text fails with, or "(no error)".
inline QString yamlError(QByteArrayView yaml)
{
    try {
        for (const Node& document : Parser::composeAll(yaml))
            document.toNative();
    } catch (const YAMLError& error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

// The native value of the first document.
inline NativeValue native(QByteArrayView yaml)
{
    const auto root = Parser::compose(yaml);
    return root ? root->toNative() : NativeValue();
}

} // namespace test
} // namespace tarnwick
