// Scanner, parser and native conversion over arbitrary bytes: any input either composes or fails with a
// YAMLError (or a NativeValueError for numbers JSON cannot hold), within the depth and expansion bounds.

#include "config/yaml/Parser.h"
#include "config/yaml/YAMLError.h"

#include <cstdint>
#include <cstdlib>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        for (const Node& document : Parser::composeAll(input)) {
            if (document.height() > Parser::defaultMaxDepth)
                std::abort();
            const NativeValue value = document.toNative();
            if (value.isArray() != document.isSequence() || value.isDictionary() != document.isMapping())
                std::abort();
            value.toJson();
        }
    } catch (const YAMLError&) {
    } catch (const NativeValueError&) {
    }
    return 0;
}
