// Conversion of composed nodes to plain values.
//
// - A sequence becomes an array, a mapping a dictionary keyed by the key scalar's text; a later pair with
//   the same key replaces the earlier value. A key that is not a scalar is keyed by its compact JSON.
// - Merge key: a pair whose key is "<<" is not stored; the entries of its mapping (or of each mapping of
//   its sequence, in order) are added where the result has no such key yet. Explicit keys therefore win
//   over merged ones wherever they stand, and among several merged mappings the first wins.
// - Quoted scalars stay text. Plain, literal and folded scalars resolve, in this order: null ("~", "null",
//   "Null", "NULL", empty), booleans ("true", "True", "TRUE", "false", "False", "FALSE"), a decimal 64-bit
//   integer, "0x"/"0X" hexadecimal and "0o"/"0O" octal integers, the infinities and not-a-number
//   (".inf", "-.inf", ".nan" and their capitalised forms), a decimal number with a point or an exponent as
//   a double, and otherwise the text.
// - A scalar tagged with a core-schema type (!!str, !!int, !!float, !!bool, !!null, or the same in verbatim
//   form) takes that type whatever its style; a text that does not fit the type is an error. Other tags
//   change nothing.

#include "DecimalNumber.h"
#include "NodeData.h"
#include "Utf8.h"
#include "YAMLError.h"

#include <charconv>
#include <limits>
#include <unordered_map>

namespace tarnwick {

using detail::CollectionData;
using detail::MappingData;
using detail::NodeData;
using detail::ScalarData;
using detail::SequenceData;

namespace {

// Aliases may make a small document expand enormously ("billion laughs"). Conversion is refused when the
// expanded tree exceeds this many values plus a generous multiple of the nodes actually written.
constexpr qint64 expansionAllowance = 1'000'000;
constexpr qint64 expansionFactor = 16;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::optional<qint64> parseRadix(QByteArrayView digits, int radix)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value, radix);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
        value > quint64(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    return qint64(value);
}

std::optional<qint64> parseDecimalInteger(QByteArrayView text)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '+')
        ++begin; // from_chars takes a minus sign but no plus sign
    const char* digits = begin != end && *begin == '-' && begin == text.data() ? begin + 1 : begin;
    if (digits == end || !std::all_of(digits, end, isDigit))
        return std::nullopt;
    qint64 value = 0;
    const auto result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

// Digits with an optional point and an optional exponent, at least one digit before the exponent.
std::optional<double> parseDecimalDouble(QByteArrayView text)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    const char* p = begin;
    if (p != end && (*p == '+' || *p == '-'))
        ++p;
    int mantissaDigits = 0;
    while (p != end && isDigit(*p))
        ++p, ++mantissaDigits;
    if (p != end && *p == '.') {
        ++p;
        while (p != end && isDigit(*p))
            ++p, ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-'))
            ++p;
        if (p == end || !isDigit(*p))
            return std::nullopt;
        while (p != end && isDigit(*p))
            ++p;
    }
    if (p != end)
        return std::nullopt;
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc::result_out_of_range) {
        if (!decimal::overflows(begin, end))
            return *begin == '-' ? -0.0 : 0.0;
        return *begin == '-' ? -std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::infinity();
    }
    return value;
}

NativeValue resolvePlain(QByteArrayView text)
{
    if (text.isEmpty())
        return nullptr;
    switch (text.front()) {
    case '~':
    case 'n':
    case 'N':
        if (text == "~" || text == "null" || text == "Null" || text == "NULL")
            return nullptr;
        break;
    case 't':
    case 'T':
        if (text == "true" || text == "True" || text == "TRUE")
            return true;
        break;
    case 'f':
    case 'F':
        if (text == "false" || text == "False" || text == "FALSE")
            return false;
        break;
    case '.':
    case '+':
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
        if (const auto integer = parseDecimalInteger(text))
            return *integer;
        if (text.size() > 2 && text[0] == '0') {
            if (text[1] == 'x' || text[1] == 'X') {
                if (const auto integer = parseRadix(text.sliced(2), 16))
                    return *integer;
            } else if (text[1] == 'o' || text[1] == 'O') {
                if (const auto integer = parseRadix(text.sliced(2), 8))
                    return *integer;
            }
        }
        if (text == ".inf" || text == ".Inf" || text == ".INF" || text == "+.inf" || text == "+.Inf" ||
            text == "+.INF")
            return std::numeric_limits<double>::infinity();
        if (text == "-.inf" || text == "-.Inf" || text == "-.INF")
            return -std::numeric_limits<double>::infinity();
        if (text == ".nan" || text == ".NaN" || text == ".NAN")
            return std::numeric_limits<double>::quiet_NaN();
        if (text.contains('.') || text.contains('e') || text.contains('E')) {
            if (const auto real = parseDecimalDouble(text))
                return *real;
        }
        break;
    }
    default:
        break;
    }
    return utf8::toString(text);
}

// The kernel reads the user's profile with a YAML reader that honours these tags, so the compiled
// configuration must too: `password: !!str 0123` stays the text "0123" instead of becoming 123.
std::optional<NativeValue> resolveTagged(const ScalarData& scalar)
{
    static const QLatin1StringView corePrefix("tag:yaml.org,2002:");
    if (!scalar.tag->startsWith(corePrefix))
        return std::nullopt;
    const QStringView type = QStringView(*scalar.tag).sliced(corePrefix.size());
    if (type == u"str")
        return utf8::toString(scalar.utf8());
    NativeValue value = resolvePlain(scalar.utf8());
    bool fits;
    if (type == u"int") {
        fits = value.isInteger();
    } else if (type == u"float") {
        if (value.isInteger())
            value = double(value.toInteger());
        fits = value.isDouble();
    } else if (type == u"bool") {
        fits = value.isBool();
    } else if (type == u"null") {
        fits = value.isNull();
    } else {
        return std::nullopt;
    }
    if (!fits)
        throw YAMLError::conversion(QStringLiteral("!!") + type.toString(), utf8::toString(scalar.utf8()),
                                    scalar.hasMark ? scalar.mark : Mark());
    return value;
}

// Walks a tree once. Mapping keys are interned: a subscription repeats "name", "type", "server" … tens
// of thousands of times, and one shared text per distinct key saves as many allocations and frees.
class Converter final
{
public:
    NativeValue convert(const NodeData* data)
    {
        switch (data->type) {
        case Node::Type::scalar: {
            const auto* scalar = static_cast<const ScalarData*>(data);
            if (scalar->tag) {
                if (auto tagged = resolveTagged(*scalar))
                    return std::move(*tagged);
            }
            if (scalar->style == ScalarStyle::singleQuoted || scalar->style == ScalarStyle::doubleQuoted)
                return utf8::toString(scalar->utf8());
            return resolvePlain(scalar->utf8());
        }
        case Node::Type::sequence: {
            const auto nodes = static_cast<const SequenceData*>(data)->view();
            NativeValue::Array array;
            array.reserve(nodes.size());
            for (const Node& node : nodes)
                array.push_back(convert(NodeData::of(node)));
            return array;
        }
        case Node::Type::mapping:
            return convertMapping(static_cast<const MappingData*>(data));
        }
        return NativeValue();
    }

    NativeValue::Dictionary convertMapping(const MappingData* mapping)
    {
        std::vector<NativeValue::Dictionary::value_type> entries;
        entries.reserve(size_t(mapping->count));
        std::vector<const MappingData*> merged;
        for (const Node::Pair& pair : mapping->view()) {
            const NodeData* key = NodeData::of(pair.key);
            const NodeData* value = NodeData::of(pair.value);
            if (key->type == Node::Type::scalar && static_cast<const ScalarData*>(key)->utf8() == "<<") {
                if (value->type == Node::Type::mapping) {
                    merged.push_back(static_cast<const MappingData*>(value));
                } else if (value->type == Node::Type::sequence) {
                    for (const Node& element : static_cast<const SequenceData*>(value)->view()) {
                        if (element.isMapping())
                            merged.push_back(static_cast<const MappingData*>(NodeData::of(element)));
                    }
                }
                continue;
            }
            QString text = key->type == Node::Type::scalar
                               ? intern(static_cast<const ScalarData*>(key)->utf8())
                               : QString::fromUtf8(convert(key).toJson());
            entries.emplace_back(std::move(text), convert(value));
        }
        NativeValue::Dictionary dictionary = NativeValue::Dictionary::fromEntries(std::move(entries));
        // Explicit keys win over merged ones wherever they stand; among merged mappings the first wins.
        for (const MappingData* source : merged)
            dictionary.insertMissing(convertMapping(source));
        return dictionary;
    }

private:
    // The views point into the tree being converted, which outlives the converter.
    QString intern(QByteArrayView utf8)
    {
        const auto [it, inserted] = m_keys.try_emplace(utf8);
        if (inserted)
            it->second = utf8::toString(utf8);
        return it->second;
    }

    struct ViewHash
    {
        size_t operator()(QByteArrayView view) const noexcept { return qHash(view); }
    };
    std::unordered_map<QByteArrayView, QString, ViewHash> m_keys;
};

void checkExpansion(const NodeData* data)
{
    if (data->type == Node::Type::scalar)
        return;
    const auto* collection = static_cast<const CollectionData*>(data);
    const qint64 limit = expansionAllowance + expansionFactor * collection->writtenSize;
    if (collection->expandedSize > limit)
        throw YAMLError::expansionLimitExceeded(limit, data->hasMark ? data->mark : Mark());
}

} // namespace

std::optional<NativeValue::Dictionary> Node::toNativeDictionary() const
{
    if (!isMapping())
        return std::nullopt;
    checkExpansion(m_data);
    return Converter().convertMapping(static_cast<const MappingData*>(m_data));
}

std::optional<NativeValue::Array> Node::toNativeArray() const
{
    if (!isSequence())
        return std::nullopt;
    checkExpansion(m_data);
    NativeValue value = Converter().convert(m_data);
    return std::move(value.array());
}

NativeValue Node::toNative() const
{
    checkExpansion(m_data);
    return Converter().convert(m_data);
}

} // namespace tarnwick
