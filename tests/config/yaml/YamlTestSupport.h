#pragma once

#include "config/yaml/NativeValue.h"
#include "config/yaml/Parser.h"
#include "config/yaml/YAMLError.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QString>

namespace tarnwick::test {

// The description of the YAMLError that composing all documents of a text fails with, or "(no error)".
inline QString yamlError(QByteArrayView yaml)
{
    return errorText<YAMLError>([yaml] {
        for (const Node& document : Parser::composeAll(yaml))
            document.toNative();
    });
}

// The native value of the first document.
inline NativeValue native(QByteArrayView yaml)
{
    const auto root = Parser::compose(yaml);
    return root ? root->toNative() : NativeValue();
}

} // namespace tarnwick::test
