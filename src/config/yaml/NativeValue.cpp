#include "NativeValue.h"

#include "DecimalNumber.h"
#include "Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tarnwick {

namespace {

const NativeValue::Array emptyArray;
const NativeValue::Dictionary emptyDictionary;
const NativeValue nullValue;

// Deep enough for any real document; bounds the recursion of the reader.
constexpr int maxJsonDepth = 512;

// Serialises into one growing buffer through a raw cursor: a large configuration has hundreds of
// thousands of strings, and per-string temporaries or per-append size checks dominated the time.
class JsonWriter final
{
public:
    explicit JsonWriter(bool pretty) : m_pretty(pretty) { grow(64 * 1024); }

    QByteArray finish()
    {
        m_buffer.truncate(m_pos - m_buffer.data());
        return std::move(m_buffer);
    }

    void writeValue(const NativeValue& value, int indent)
    {
        switch (value.type()) {
        case NativeValue::Type::Null:
            literal("null", 4);
            break;
        case NativeValue::Type::Bool:
            if (value.toBool())
                literal("true", 4);
            else
                literal("false", 5);
            break;
        case NativeValue::Type::Integer: {
            reserve(24);
            m_pos = std::to_chars(m_pos, m_end, value.toInteger()).ptr;
            break;
        }
        case NativeValue::Type::Double:
            writeDouble(value.toDouble());
            break;
        case NativeValue::Type::String:
            writeString(value.stringView());
            break;
        case NativeValue::Type::Array: {
            const auto& array = value.toArray();
            put('[');
            bool first = true;
            for (const NativeValue& element : array) {
                if (!first)
                    put(',');
                first = false;
                newline(indent + 1);
                writeValue(element, indent + 1);
            }
            if (!array.empty())
                newline(indent);
            put(']');
            break;
        }
        case NativeValue::Type::Dictionary: {
            const auto& dictionary = value.toDictionary();
            put('{');
            bool first = true;
            for (const auto& [key, element] : dictionary) {
                if (!first)
                    put(',');
                first = false;
                newline(indent + 1);
                writeString(key);
                if (m_pretty)
                    literal(": ", 2);
                else
                    put(':');
                writeValue(element, indent + 1);
            }
            if (!dictionary.empty())
                newline(indent);
            put('}');
            break;
        }
        }
    }

    void writeString(QStringView text)
    {
        // Worst case: every unit a six-byte \u escape; a UTF-16 unit never needs more than three bytes
        // of UTF-8 otherwise (a surrogate pair, two units, needs four).
        reserve(text.size() * 6 + 2);
        char* out = m_pos;
        *out++ = '"';
        const char16_t* p = text.utf16();
        const char16_t* const end = p + text.size();
        while (p != end) {
            const char16_t unit = *p++;
            if (unit < 0x80) {
                if (unit >= 0x20 && unit != '"' && unit != '\\') {
                    *out++ = char(unit);
                    continue;
                }
                out = escape(out, unit);
            } else if (unit < 0x800) {
                *out++ = char(0xC0 | (unit >> 6));
                *out++ = char(0x80 | (unit & 0x3F));
            } else if (unit < 0xD800 || unit > 0xDFFF) {
                *out++ = char(0xE0 | (unit >> 12));
                *out++ = char(0x80 | ((unit >> 6) & 0x3F));
                *out++ = char(0x80 | (unit & 0x3F));
            } else if (unit <= 0xDBFF && p != end && *p >= 0xDC00 && *p <= 0xDFFF) {
                const char32_t code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
                *out++ = char(0xF0 | (code >> 18));
                *out++ = char(0x80 | ((code >> 12) & 0x3F));
                *out++ = char(0x80 | ((code >> 6) & 0x3F));
                *out++ = char(0x80 | (code & 0x3F));
            } else {
                // A lone surrogate is written as Qt's UTF-8 encoder writes it.
                const QByteArray replacement = QStringView(p - 1, 1).toUtf8();
                std::memcpy(out, replacement.constData(), size_t(replacement.size()));
                out += replacement.size();
            }
        }
        *out++ = '"';
        m_pos = out;
    }

private:
    static char* escape(char* out, char16_t unit)
    {
        static constexpr char hex[] = "0123456789abcdef";
        *out++ = '\\';
        switch (unit) {
        case '"':
        case '\\':
            *out++ = char(unit);
            break;
        case '\b':
            *out++ = 'b';
            break;
        case '\f':
            *out++ = 'f';
            break;
        case '\n':
            *out++ = 'n';
            break;
        case '\r':
            *out++ = 'r';
            break;
        case '\t':
            *out++ = 't';
            break;
        default:
            *out++ = 'u';
            *out++ = '0';
            *out++ = '0';
            *out++ = hex[unit >> 4];
            *out++ = hex[unit & 0xF];
        }
        return out;
    }

    void writeDouble(double value)
    {
        if (!std::isfinite(value))
            throw NativeValueError(QStringLiteral("Cannot write a non-finite number as JSON"));
        reserve(32);
        m_pos = std::to_chars(m_pos, m_end, value).ptr;
    }

    void newline(int indent)
    {
        if (!m_pretty)
            return;
        reserve(1 + qsizetype(indent) * 2);
        *m_pos++ = '\n';
        std::memset(m_pos, ' ', size_t(indent) * 2);
        m_pos += indent * 2;
    }

    void put(char c)
    {
        reserve(1);
        *m_pos++ = c;
    }

    void literal(const char* text, qsizetype size)
    {
        reserve(size);
        std::memcpy(m_pos, text, size_t(size));
        m_pos += size;
    }

    void reserve(qsizetype size)
    {
        if (m_end - m_pos < size)
            grow(size);
    }

    void grow(qsizetype size)
    {
        const qsizetype used = m_pos ? m_pos - m_buffer.data() : 0;
        m_buffer.resize(std::max(used + size, m_buffer.size() * 2));
        m_pos = m_buffer.data() + used;
        m_end = m_buffer.data() + m_buffer.size();
    }

    bool m_pretty;
    QByteArray m_buffer;
    char* m_pos = nullptr;
    char* m_end = nullptr;
};

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
        std::vector<NativeValue::Dictionary::value_type> entries;
        skipWhitespace();
        if (m_pos != m_end && *m_pos == '}') {
            ++m_pos;
            return NativeValue::Dictionary();
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
            entries.emplace_back(std::move(key), readValue(depth));
            skipWhitespace();
            if (m_pos == m_end)
                fail("unexpected end of input");
            if (*m_pos == '}') {
                ++m_pos;
                return NativeValue::Dictionary::fromEntries(std::move(entries));
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

NativeValue::NativeValue(Array value) : m_type(Type::Array)
{
    new (&m_storage.array) Array(std::move(value));
}

NativeValue::NativeValue(Dictionary value) : m_type(Type::Dictionary)
{
    new (&m_storage.dictionary) Dictionary(std::move(value));
}

NativeValue::NativeValue(const NativeValue& other) : m_type(other.m_type)
{
    switch (m_type) {
    case Type::String:
        new (&m_storage.string) QString(other.m_storage.string);
        break;
    case Type::Array:
        new (&m_storage.array) Array(other.m_storage.array);
        break;
    case Type::Dictionary:
        new (&m_storage.dictionary) Dictionary(other.m_storage.dictionary);
        break;
    default:
        copyScalar(other);
    }
}

NativeValue::NativeValue(NativeValue&& other) noexcept : m_type(other.m_type)
{
    switch (m_type) {
    case Type::String:
        new (&m_storage.string) QString(std::move(other.m_storage.string));
        break;
    case Type::Array:
        new (&m_storage.array) Array(std::move(other.m_storage.array));
        break;
    case Type::Dictionary:
        new (&m_storage.dictionary) Dictionary(std::move(other.m_storage.dictionary));
        break;
    default:
        copyScalar(other);
    }
}

NativeValue& NativeValue::operator=(const NativeValue& other)
{
    if (this != &other)
        *this = NativeValue(other);
    return *this;
}

NativeValue& NativeValue::operator=(NativeValue&& other) noexcept
{
    if (this != &other) {
        // `other` may live inside this value (assigning a child to its parent): move it out first.
        NativeValue moved(std::move(other));
        destroy();
        new (this) NativeValue(std::move(moved));
    }
    return *this;
}

NativeValue::~NativeValue()
{
    destroy();
}

void NativeValue::copyScalar(const NativeValue& other) noexcept
{
    switch (m_type) {
    case Type::Bool:
        m_storage.boolean = other.m_storage.boolean;
        break;
    case Type::Integer:
        m_storage.integer = other.m_storage.integer;
        break;
    case Type::Double:
        m_storage.real = other.m_storage.real;
        break;
    default:
        break;
    }
}

void NativeValue::destroy() noexcept
{
    switch (m_type) {
    case Type::String:
        m_storage.string.~QString();
        break;
    case Type::Array:
        m_storage.array.~Array();
        break;
    case Type::Dictionary:
        m_storage.dictionary.~Dictionary();
        break;
    default:
        break;
    }
    m_type = Type::Null;
}

bool NativeValue::toBool() const
{
    return m_type == Type::Bool && m_storage.boolean;
}

qint64 NativeValue::toInteger() const
{
    if (m_type == Type::Integer)
        return m_storage.integer;
    if (m_type == Type::Double) {
        const double value = m_storage.real;
        // 2^63 is exact as a double; anything at or beyond it does not fit.
        if (value >= -9223372036854775808.0 && value < 9223372036854775808.0 && std::trunc(value) == value)
            return qint64(value);
    }
    return 0;
}

double NativeValue::toDouble() const
{
    if (m_type == Type::Double)
        return m_storage.real;
    if (m_type == Type::Integer)
        return double(m_storage.integer);
    return 0.0;
}

QString NativeValue::toString() const
{
    return m_type == Type::String ? m_storage.string : QString();
}

const NativeValue::Array& NativeValue::toArray() const
{
    return m_type == Type::Array ? m_storage.array : emptyArray;
}

const NativeValue::Dictionary& NativeValue::toDictionary() const
{
    return m_type == Type::Dictionary ? m_storage.dictionary : emptyDictionary;
}

NativeValue::Array& NativeValue::array()
{
    if (m_type != Type::Array)
        *this = NativeValue(Array());
    return m_storage.array;
}

NativeValue::Dictionary& NativeValue::dictionary()
{
    if (m_type != Type::Dictionary)
        *this = NativeValue(Dictionary());
    return m_storage.dictionary;
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
        return double(m_storage.integer) == other.m_storage.real && other.toInteger() == m_storage.integer;
    if (m_type == Type::Double && other.m_type == Type::Integer)
        return other == *this;
    if (m_type != other.m_type)
        return false;
    switch (m_type) {
    case Type::Null:
        return true;
    case Type::Bool:
        return m_storage.boolean == other.m_storage.boolean;
    case Type::Integer:
        return m_storage.integer == other.m_storage.integer;
    case Type::Double:
        return m_storage.real == other.m_storage.real;
    case Type::String:
        return m_storage.string == other.m_storage.string;
    case Type::Array:
        return m_storage.array == other.m_storage.array;
    case Type::Dictionary:
        return m_storage.dictionary == other.m_storage.dictionary;
    }
    return false;
}

QByteArray NativeValue::toJson(JsonFormat format) const
{
    JsonWriter writer(format == JsonFormat::Pretty);
    writer.writeValue(*this, 0);
    return writer.finish();
}

NativeValue NativeValue::fromJson(QByteArrayView json)
{
    return JsonReader(json).readDocument();
}

} // namespace tarnwick
