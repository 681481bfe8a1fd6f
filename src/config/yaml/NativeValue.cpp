#include "NativeValue.h"

#include "DecimalNumber.h"
#include "Utf8.h"

#include <charconv>
#include <cmath>

namespace tarnwick {

namespace {

const NativeValue::Array emptyArray;
const NativeValue::Dictionary emptyDictionary;
const NativeValue nullValue;

// Deep enough for any real document; bounds the recursion of the reader.
constexpr int maxJsonDepth = 512;

void writeString(QByteArray& out, QStringView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.reserve(out.size() + utf8.size() + 2);
    out.append('"');
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\f':
            out.append("\\f");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            if (byte < 0x20) {
                const char escape[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF]};
                out.append(escape, sizeof escape);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
}

void writeDouble(QByteArray& out, double value)
{
    if (!std::isfinite(value))
        throw NativeValueError(QStringLiteral("Cannot write a non-finite number as JSON"));
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void newline(QByteArray& out, int indent)
{
    out.append('\n');
    out.append(QByteArray(indent * 2, ' '));
}

void writeValue(QByteArray& out, const NativeValue& value, bool pretty, int indent)
{
    switch (value.type()) {
    case NativeValue::Type::Null:
        out.append("null");
        break;
    case NativeValue::Type::Bool:
        out.append(value.toBool() ? "true" : "false");
        break;
    case NativeValue::Type::Integer:
        out.append(QByteArray::number(value.toInteger()));
        break;
    case NativeValue::Type::Double:
        writeDouble(out, value.toDouble());
        break;
    case NativeValue::Type::String:
        writeString(out, value.toString());
        break;
    case NativeValue::Type::Array: {
        const auto& array = value.toArray();
        out.append('[');
        bool first = true;
        for (const NativeValue& element : array) {
            if (!first)
                out.append(',');
            first = false;
            if (pretty)
                newline(out, indent + 1);
            writeValue(out, element, pretty, indent + 1);
        }
        if (pretty && !array.empty())
            newline(out, indent);
        out.append(']');
        break;
    }
    case NativeValue::Type::Dictionary: {
        const auto& dictionary = value.toDictionary();
        out.append('{');
        bool first = true;
        for (const auto& [key, element] : dictionary) {
            if (!first)
                out.append(',');
            first = false;
            if (pretty)
                newline(out, indent + 1);
            writeString(out, key);
            out.append(pretty ? ": " : ":");
            writeValue(out, element, pretty, indent + 1);
        }
        if (pretty && !dictionary.empty())
            newline(out, indent);
        out.append('}');
        break;
    }
    }
}

// A strict RFC 8259 reader over UTF-8 bytes.
class JsonReader final
{
public:
    explicit JsonReader(QByteArrayView json)
        : m_begin(json.data()), m_pos(m_begin), m_end(m_begin + json.size())
    {}

    NativeValue readDocument()
    {
        if (!utf8::isValid(m_begin, m_end))
            fail("invalid UTF-8");
        skipWhitespace();
        NativeValue value = readValue(0);
        skipWhitespace();
        if (m_pos != m_end)
            fail("unexpected text after the value");
        return value;
    }

private:
    [[noreturn]] void fail(const char* reason) const
    {
        throw NativeValueError(QStringLiteral("Invalid JSON at offset %1: %2")
                                   .arg(m_pos - m_begin)
                                   .arg(QString::fromLatin1(reason)));
    }

    void skipWhitespace()
    {
        while (m_pos != m_end && (*m_pos == ' ' || *m_pos == '\t' || *m_pos == '\n' || *m_pos == '\r'))
            ++m_pos;
    }

    bool consumeLiteral(const char* literal)
    {
        const char* p = m_pos;
        for (; *literal; ++literal, ++p) {
            if (p == m_end || *p != *literal)
                return false;
        }
        m_pos = p;
        return true;
    }

    NativeValue readValue(int depth)
    {
        if (m_pos == m_end)
            fail("unexpected end of input");
        switch (*m_pos) {
        case '{':
            return readObject(depth + 1);
        case '[':
            return readArray(depth + 1);
        case '"':
            return readString();
        case 't':
            if (consumeLiteral("true"))
                return true;
            break;
        case 'f':
            if (consumeLiteral("false"))
                return false;
            break;
        case 'n':
            if (consumeLiteral("null"))
                return nullptr;
            break;
        default:
            if (*m_pos == '-' || (*m_pos >= '0' && *m_pos <= '9'))
                return readNumber();
        }
        fail("unexpected character");
    }

    NativeValue readObject(int depth)
    {
        if (depth > maxJsonDepth)
            fail("nesting too deep");
        ++m_pos;
        NativeValue::Dictionary dictionary;
        skipWhitespace();
        if (m_pos != m_end && *m_pos == '}') {
            ++m_pos;
            return dictionary;
        }
        for (;;) {
            skipWhitespace();
            if (m_pos == m_end || *m_pos != '"')
                fail("expected a string key");
            QString key = readString().toString();
            skipWhitespace();
            if (m_pos == m_end || *m_pos != ':')
                fail("expected ':'");
            ++m_pos;
            skipWhitespace();
            dictionary.insert_or_assign(std::move(key), readValue(depth));
            skipWhitespace();
            if (m_pos == m_end)
                fail("unexpected end of input");
            if (*m_pos == '}') {
                ++m_pos;
                return dictionary;
            }
            if (*m_pos != ',')
                fail("expected ',' or '}'");
            ++m_pos;
        }
    }

    NativeValue readArray(int depth)
    {
        if (depth > maxJsonDepth)
            fail("nesting too deep");
        ++m_pos;
        NativeValue::Array array;
        skipWhitespace();
        if (m_pos != m_end && *m_pos == ']') {
            ++m_pos;
            return array;
        }
        for (;;) {
            skipWhitespace();
            array.push_back(readValue(depth));
            skipWhitespace();
            if (m_pos == m_end)
                fail("unexpected end of input");
            if (*m_pos == ']') {
                ++m_pos;
                return array;
            }
            if (*m_pos != ',')
                fail("expected ',' or ']'");
            ++m_pos;
        }
    }

    int readHex4()
    {
        if (m_end - m_pos < 4)
            fail("incomplete \\u escape");
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *m_pos++;
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                fail("invalid \\u escape");
            value = value * 16 + digit;
        }
        return value;
    }

    NativeValue readString()
    {
        ++m_pos; // opening quote
        QByteArray bytes;
        for (;;) {
            const char* run = m_pos;
            while (m_pos != m_end && *m_pos != '"' && *m_pos != '\\' &&
                   static_cast<unsigned char>(*m_pos) >= 0x20)
                ++m_pos;
            bytes.append(run, m_pos - run);
            if (m_pos == m_end)
                fail("unterminated string");
            const char c = *m_pos;
            if (c == '"') {
                ++m_pos;
                return utf8::toString(bytes);
            }
            if (c != '\\')
                fail("control character in string");
            ++m_pos;
            if (m_pos == m_end)
                fail("unterminated string");
            switch (*m_pos++) {
            case '"':
                bytes.append('"');
                break;
            case '\\':
                bytes.append('\\');
                break;
            case '/':
                bytes.append('/');
                break;
            case 'b':
                bytes.append('\b');
                break;
            case 'f':
                bytes.append('\f');
                break;
            case 'n':
                bytes.append('\n');
                break;
            case 'r':
                bytes.append('\r');
                break;
            case 't':
                bytes.append('\t');
                break;
            case 'u': {
                char32_t code = char32_t(readHex4());
                if (code >= 0xD800 && code <= 0xDBFF) {
                    if (m_end - m_pos < 2 || m_pos[0] != '\\' || m_pos[1] != 'u')
                        fail("unpaired surrogate in \\u escape");
                    m_pos += 2;
                    const char32_t low = char32_t(readHex4());
                    if (low < 0xDC00 || low > 0xDFFF)
                        fail("unpaired surrogate in \\u escape");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    fail("unpaired surrogate in \\u escape");
                }
                utf8::append(bytes, code);
                break;
            }
            default:
                --m_pos;
                fail("invalid escape");
            }
        }
    }

    NativeValue readNumber()
    {
        const char* start = m_pos;
        if (*m_pos == '-')
            ++m_pos;
        const auto digits = [this] {
            const char* first = m_pos;
            while (m_pos != m_end && *m_pos >= '0' && *m_pos <= '9')
                ++m_pos;
            return m_pos - first;
        };
        const char* intStart = m_pos;
        const auto intDigits = digits();
        if (intDigits == 0)
            fail("invalid number");
        if (*intStart == '0' && intDigits > 1) {
            m_pos = intStart;
            fail("leading zero in number");
        }
        bool integral = true;
        if (m_pos != m_end && *m_pos == '.') {
            ++m_pos;
            integral = false;
            if (digits() == 0)
                fail("invalid number");
        }
        if (m_pos != m_end && (*m_pos == 'e' || *m_pos == 'E')) {
            ++m_pos;
            integral = false;
            if (m_pos != m_end && (*m_pos == '+' || *m_pos == '-'))
                ++m_pos;
            if (digits() == 0)
                fail("invalid number");
        }
        if (integral) {
            qint64 value = 0;
            const auto result = std::from_chars(start, m_pos, value);
            if (result.ec == std::errc() && result.ptr == m_pos)
                return value;
        }
        double value = 0;
        const auto result = std::from_chars(start, m_pos, value);
        if (result.ec == std::errc::result_out_of_range) {
            // Underflow reads as zero; overflow is an error.
            if (decimal::overflows(start, m_pos)) {
                m_pos = start;
                fail("number out of range");
            }
            return 0.0;
        }
        return value;
    }

    const char* m_begin;
    const char* m_pos;
    const char* m_end;
};

} // namespace

NativeValue::NativeValue(Array value)
    : m_type(Type::Array), m_array(std::make_unique<Array>(std::move(value)))
{}

NativeValue::NativeValue(Dictionary value)
    : m_type(Type::Dictionary), m_dictionary(std::make_unique<Dictionary>(std::move(value)))
{}

NativeValue::NativeValue(const NativeValue& other)
    : m_type(other.m_type), m_scalar(other.m_scalar), m_string(other.m_string),
      m_array(other.m_array ? std::make_unique<Array>(*other.m_array) : nullptr),
      m_dictionary(other.m_dictionary ? std::make_unique<Dictionary>(*other.m_dictionary) : nullptr)
{}

NativeValue& NativeValue::operator=(const NativeValue& other)
{
    if (this != &other)
        *this = NativeValue(other);
    return *this;
}

NativeValue::~NativeValue() = default;

bool NativeValue::toBool() const
{
    return m_type == Type::Bool && m_scalar.boolean;
}

qint64 NativeValue::toInteger() const
{
    if (m_type == Type::Integer)
        return m_scalar.integer;
    if (m_type == Type::Double) {
        const double value = m_scalar.real;
        // 2^63 is exact as a double; anything at or beyond it does not fit.
        if (value >= -9223372036854775808.0 && value < 9223372036854775808.0 && std::trunc(value) == value)
            return qint64(value);
    }
    return 0;
}

double NativeValue::toDouble() const
{
    if (m_type == Type::Double)
        return m_scalar.real;
    if (m_type == Type::Integer)
        return double(m_scalar.integer);
    return 0.0;
}

QString NativeValue::toString() const
{
    return m_type == Type::String ? m_string : QString();
}

const NativeValue::Array& NativeValue::toArray() const
{
    return m_type == Type::Array ? *m_array : emptyArray;
}

const NativeValue::Dictionary& NativeValue::toDictionary() const
{
    return m_type == Type::Dictionary ? *m_dictionary : emptyDictionary;
}

NativeValue::Array& NativeValue::array()
{
    if (m_type != Type::Array)
        *this = NativeValue(Array());
    return *m_array;
}

NativeValue::Dictionary& NativeValue::dictionary()
{
    if (m_type != Type::Dictionary)
        *this = NativeValue(Dictionary());
    return *m_dictionary;
}

const NativeValue& NativeValue::value(const QString& key) const
{
    const Dictionary& entries = toDictionary();
    const auto it = entries.find(key);
    return it == entries.end() ? nullValue : it->second;
}

bool NativeValue::contains(const QString& key) const
{
    return toDictionary().contains(key);
}

bool NativeValue::operator==(const NativeValue& other) const
{
    if (m_type == Type::Integer && other.m_type == Type::Double)
        return double(m_scalar.integer) == other.m_scalar.real && other.toInteger() == m_scalar.integer;
    if (m_type == Type::Double && other.m_type == Type::Integer)
        return other == *this;
    if (m_type != other.m_type)
        return false;
    switch (m_type) {
    case Type::Null:
        return true;
    case Type::Bool:
        return m_scalar.boolean == other.m_scalar.boolean;
    case Type::Integer:
        return m_scalar.integer == other.m_scalar.integer;
    case Type::Double:
        return m_scalar.real == other.m_scalar.real;
    case Type::String:
        return m_string == other.m_string;
    case Type::Array:
        return *m_array == *other.m_array;
    case Type::Dictionary:
        return *m_dictionary == *other.m_dictionary;
    }
    return false;
}

QByteArray NativeValue::toJson(JsonFormat format) const
{
    QByteArray out;
    writeValue(out, *this, format == JsonFormat::Pretty, 0);
    return out;
}

NativeValue NativeValue::fromJson(QByteArrayView json)
{
    return JsonReader(json).readDocument();
}

} // namespace tarnwick
