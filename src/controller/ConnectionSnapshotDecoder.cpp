#include "ConnectionSnapshotDecoder.h"

#include <QDate>
#include <QHash>
#include <QJsonDocument>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <simdjson.h>
#include <string_view>
#include <vector>

namespace tarnwick {

namespace {

using namespace simdjson;
using Value = ondemand::value;

// Thrown past the walk when the document itself is malformed; mistyped values never throw.
struct Malformed
{};

void check(error_code error)
{
    if (error)
        throw Malformed{};
}

// A JSON integer as the kernel writes its counters: an optional minus and up to 18 digits, without
// leading zeros. Its value and length; absent for anything else, which the general reader then takes.
std::optional<std::pair<qint64, qsizetype>> plainIntegerAt(std::string_view text, size_t at)
{
    const size_t from = at;
    const bool negative = at < text.size() && text[at] == '-';
    if (negative)
        ++at;
    const size_t digitsFrom = at;
    qint64 value = 0;
    // Digits beyond the 18th are only counted: the number goes to the general reader, and adding them up
    // would overflow.
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (at - digitsFrom < 18)
            value = value * 10 + (text[at] - '0');
        ++at;
    }
    const size_t digits = at - digitsFrom;
    if (digits == 0 || digits > 18 || (digits > 1 && text[digitsFrom] == '0'))
        return std::nullopt;
    return std::pair<qint64, qsizetype>(negative ? -value : value, static_cast<qsizetype>(at - from));
}

// A connection's id as the message spells it, not copied: it is a view into the message that last had the
// connection, moved along to each new message (the same bytes, so its place in a table stays).
struct IDKey
{
    mutable std::string_view bytes;

    bool operator==(const IDKey& other) const { return bytes == other.bytes; }
};

size_t qHash(const IDKey& key, size_t seed)
{
    return qHashBits(key.bytes.data(), key.bytes.size(), seed);
}

// The connection table is sent again every second and nearly all of it comes back unchanged: the kernel
// writes a connection the same way every second but for its byte counters. The memory keeps each
// connection by its id with the text it was last read from; an element whose text is that text but for
// the counters' digits is the connection read then with new counters, and nothing else of it is read
// again. Any other difference reads the element anew. The texts are not copied: they are views into the
// last message, which the memory holds. Texts are also pooled: each distinct text is one QString, shared
// by every connection that holds it, for as long as any does. One memory per thread, like the parser.
class Memory final
{
public:
    // Holds the message about to be read (the texts remembered still point into the one before).
    void beginMessage(const QByteArray& utf8)
    {
        m_previous = std::move(m_message);
        // A copy of a message that owns its bytes only shares them; one that borrows them (it has no
        // capacity of its own) is copied, as the borrowed bytes may go before the next message comes.
        m_message = utf8.capacity() > 0 ? utf8 : QByteArray(utf8.constData(), utf8.size());
    }

    std::string_view message() const
    {
        return {m_message.constData(), static_cast<size_t>(m_message.size())};
    }

    bool isEmpty() const { return m_connections.isEmpty(); }

    QString text(std::string_view utf8)
    {
        return find(m_texts, utf8, [utf8] { return fromUtf8(utf8); });
    }

    // A chain by its JSON text (the array as the message spells it).
    QStringList chains(std::string_view json)
    {
        return find(m_chains, json, [this, json] { return readChains(json); });
    }

    // An element of "connections" and the length of its text.
    struct Element
    {
        // Absent when the element has no id.
        std::optional<ConnectionItem> connection;
        size_t length = 0;
        bool recalled = false;
    };

    // The object element `text` starts with (the text runs on to the end of the message).
    Element element(std::string_view text);

    // The whole message in one pass of the parser, each element remembered: cheaper than element by element
    // when few of them can be recalled. `expected`: how many connections to make room for.
    ConnectionSnapshot readWhole(qsizetype expected);

    // A value's own text, read apart from the message.
    Value value(std::string_view json) { return m_value.value(json); }

    // Forgets the connections the message just read did not have, and the texts nothing holds any more.
    void endMessage()
    {
        m_connections.removeIf([this](const auto& entry) { return entry.value().seen != m_messages; });
        m_texts.removeIf([](const auto& entry) { return entry.value().isDetached(); });
        m_chains.removeIf([](const auto& entry) { return entry.value().isDetached(); });
        // Every connection kept was seen in this message, and its text is a view into it or null.
        m_previous = QByteArray();
        ++m_messages;
    }

private:
    // Where a counter's digits sit in an element's text.
    struct Counter
    {
        qsizetype at = 0;
        qsizetype end = 0;
        bool upload = false;
    };

    struct Known
    {
        // Null when the element has no id. Held apart so that the table moves small entries as it grows.
        std::shared_ptr<const ConnectionItem> item;
        // The element's text as last read, in the message that had it; null when the element cannot be
        // recognised by it (a counter missing, repeated or not a plain integer).
        std::string_view text;
        // Both counters, in the order the text has them.
        std::array<Counter, 2> counters;
        // The last message that had it.
        quint64 seen = 0;
    };

    // An element's fields as read, and where its counters sit in its text.
    struct Fields
    {
        std::optional<ConnectionItem> connection;
        std::array<Counter, 2> counters;
        // How many counters came (past two, the element is not recognised by its text).
        int counterCount = 0;
        bool hasID = false;

        bool recognisable() const
        {
            return counterCount == 2 && counters[0].upload != counters[1].upload && counters[0].end >= 0 &&
                   counters[1].end >= 0;
        }
    };

    // The connection known by `id` (a view into this message), marked as seen in it.
    Known& connection(std::string_view id)
    {
        auto found = m_connections.find(IDKey{id});
        if (found == m_connections.end())
            found = m_connections.emplace(IDKey{id}, Known());
        else
            found.key().bytes = id;
        found->seen = m_messages;
        return *found;
    }

    // The connection as last read when `text` starts with its element but for the counters' digits; the
    // memory then holds `text` as its text.
    static std::optional<Element> recall(Known& known, std::string_view text);
    // Reads an element anew; with `known`, also remembers it.
    std::optional<ConnectionItem> read(std::string_view json, Known* known);
    // An element's object; `text` is where the element's text starts.
    Fields fields(ondemand::object& object, const char* text);
    // Remembers an element read anew by its id, if it has one as the kernel writes it.
    void rememberByID(const Fields& fields, std::string_view text);
    static void remember(Known& known, const Fields& fields, std::string_view text);
    // `text`: where the parser's copy of the message starts (the texts remembered are the message's own).
    void readConnections(Value& value, ondemand::document& document, const char* text,
                         ConnectionSnapshot& snapshot, qsizetype expected);
    QStringList readChains(std::string_view json);
    // Reads texts apart from the message, each with a parser of its own: an element's walk meets chains it
    // has not seen yet.
    struct Side
    {
        ondemand::parser parser;
        std::vector<char> text;
        ondemand::document current;
        std::string wrapped;

        // The document stays until the next one.
        ondemand::document& document(std::string_view json);
        // A single value, read as the only element of an array.
        Value value(std::string_view json);
    };

    static QString fromUtf8(std::string_view utf8)
    {
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }

    template <typename T, typename Make> T& find(QHash<QByteArray, T>& pool, std::string_view utf8, Make make)
    {
        // A lookup borrows the message's bytes; only a new text copies them.
        const QByteArray key = QByteArray::fromRawData(utf8.data(), static_cast<qsizetype>(utf8.size()));
        auto found = pool.find(key);
        if (found == pool.end())
            found = pool.emplace(QByteArray(key.constData(), key.size()), make());
        return *found;
    }

    QHash<QByteArray, QString> m_texts;
    QHash<QByteArray, QStringList> m_chains;
    QHash<IDKey, Known> m_connections;
    quint64 m_messages = 0;
    QByteArray m_message;
    QByteArray m_previous;
    ondemand::parser m_wholeParser;
    std::vector<char> m_padded;
    Side m_element;
    Side m_chain;
    Side m_value;
};

std::optional<std::string_view> stringOf(Value& value)
{
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::string)
        return std::nullopt;
    // Without escapes the text is the message's own bytes between the quotes (the token runs on over any
    // white space up to the next one); only escaped texts are unescaped into the parser's buffer.
    const std::string_view token = value.raw_json_token();
    if (token.find('\\') == std::string_view::npos)
        return token.substr(1, token.rfind('"') - 1);
    std::string_view text;
    check(value.get_string().get(text));
    return text;
}

ondemand::document& Memory::Side::document(std::string_view json)
{
    text.resize(json.size() + SIMDJSON_PADDING);
    std::memcpy(text.data(), json.data(), json.size());
    check(parser.iterate(text.data(), json.size(), text.size()).get(current));
    return current;
}

Value Memory::Side::value(std::string_view json)
{
    wrapped.assign(1, '[').append(json).push_back(']');
    ondemand::array array;
    check(document(wrapped).get_array().get(array));
    Value value;
    check(array.at(0).get(value));
    return value;
}

QStringList Memory::readChains(std::string_view json)
{
    ondemand::document& document = m_chain.document(json);
    ondemand::array links;
    if (document.get_array().get(links))
        return {};
    QStringList chains;
    for (auto element : links) {
        std::string_view link;
        // A chain with anything but strings in it is mistyped as a whole.
        if (element.get_string().get(link))
            return {};
        chains.append(text(link));
    }
    return chains;
}

QString pooledTextOf(Value& value, Memory& memory)
{
    const auto text = stringOf(value);
    return text ? memory.text(*text) : QString();
}

// Texts nearly every connection has its own of (ids, source ports, destination addresses): pooling them
// would cost a lookup in a table as large as the message for nothing shared.
QString textOf(Value& value)
{
    const auto text = stringOf(value);
    return text ? QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())) : QString();
}

// A JSON integer as is, a floating-point number truncated toward zero; absent beyond 64 bits.
std::optional<qint64> numberOf(Value& value)
{
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::number)
        return std::nullopt;
    ondemand::number_type kind;
    check(value.get_number_type().get(kind));
    if (kind == ondemand::number_type::signed_integer) {
        int64_t integer = 0;
        check(value.get_int64().get(integer));
        return integer;
    }
    if (kind == ondemand::number_type::unsigned_integer)
        return std::nullopt;
    double number = 0;
    if (value.get_double().get(number))
        return std::nullopt;
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number >= limit || number < -limit)
        return std::nullopt;
    return static_cast<qint64>(std::trunc(number));
}

// As numberOf, and a string of an optional sign and decimal digits too.
std::optional<qint64> intOf(Value& value)
{
    const auto text = stringOf(value);
    if (!text)
        return numberOf(value);
    std::string_view digits = *text;
    size_t digitsFrom = 0;
    // toLongLong takes a minus but not a plus sign.
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    else if (!digits.empty() && digits.front() == '-')
        digitsFrom = 1;
    if (digits.size() == digitsFrom ||
        !std::all_of(digits.begin() + digitsFrom, digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 parsed =
        QByteArrayView(digits.data(), static_cast<qsizetype>(digits.size())).toLongLong(&ok);
    return ok ? std::optional<qint64>(parsed) : std::nullopt;
}

int digitsAt(std::string_view text, size_t at, size_t count)
{
    int result = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        result = result * 10 + (text[i] - '0');
    }
    return result;
}

// The kernel's own form of an internet date-time, "2024-05-01T10:00:00.123456789+08:00" or with "Z",
// read without building a QDateTime from text; anything else goes to the general reader.
QDateTime fastDateTime(std::string_view text)
{
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return {};
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return {};
    size_t at = 19;
    int milliseconds = 0;
    if (text[at] == '.') {
        ++at;
        int scale = 100;
        const size_t digitsFrom = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            milliseconds += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == digitsFrom)
            return {};
    }
    int offsetSeconds = 0;
    if (at + 1 == text.size() && text[at] == 'Z') {
        offsetSeconds = 0;
    } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':') {
        const int offsetHours = digitsAt(text, at + 1, 2), offsetMinutes = digitsAt(text, at + 4, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59)
            return {};
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (text[at] == '-' ? -1 : 1);
    } else {
        return {};
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    const qint64 seconds = (date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * 86400 + hour * 3600 +
                           minute * 60 + second - offsetSeconds;
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds, Qt::UTC);
}

QDateTime startOf(Value& value)
{
    const auto text = stringOf(value);
    if (!text)
        return {};
    QDateTime start = fastDateTime(*text);
    if (start.isValid())
        return start;
    // Rare forms (a space for the "T", lower-case letters …) take the same reader as a JSON tree does.
    const QString general = QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size()));
    start = QDateTime::fromString(general, Qt::ISODateWithMs);
    return start.isValid() && start.timeSpec() != Qt::LocalTime ? start : QDateTime();
}

QStringList chainsOf(Value& value, Memory& memory)
{
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::array)
        return {};
    ondemand::array links;
    check(value.get_array().get(links));
    std::string_view json;
    check(links.raw_json().get(json));
    return memory.chains(json);
}

// Field names are compared as the message spells them: the kernel never escapes its own field names.
ConnectionMetadata metadataOf(Value& value, Memory& memory)
{
    ConnectionMetadata metadata;
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::object)
        return metadata;
    ondemand::object object;
    check(value.get_object().get(object));
    for (auto result : object) {
        ondemand::field field;
        check(std::move(result).get(field));
        const ondemand::raw_json_string key = field.key();
        Value& member = field.value();
        if (key.unsafe_is_equal("network"))
            metadata.network = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("type"))
            metadata.type = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("sourceIP"))
            metadata.sourceIP = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("destinationIP"))
            metadata.destinationIP = textOf(member);
        else if (key.unsafe_is_equal("sourcePort"))
            metadata.sourcePort = textOf(member);
        else if (key.unsafe_is_equal("destinationPort"))
            metadata.destinationPort = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("host"))
            metadata.host = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("sniffHost"))
            metadata.sniffHost = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("process"))
            metadata.process = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("processPath"))
            metadata.processPath = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("remoteDestination"))
            metadata.remoteDestination = pooledTextOf(member, memory);
        else if (key.unsafe_is_equal("inboundName"))
            metadata.inboundName = pooledTextOf(member, memory);
    }
    return metadata;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

size_t skipSpace(std::string_view text, size_t at)
{
    while (at < text.size() && isSpace(text[at]))
        ++at;
    return at;
}

// The length of the string `text` starts with, quotes included.
size_t stringLength(std::string_view text)
{
    size_t at = 1;
    while (true) {
        const void* quote = std::memchr(text.data() + at, '"', text.size() - at);
        if (!quote)
            throw Malformed{};
        at = static_cast<size_t>(static_cast<const char*>(quote) - text.data());
        // A quote after an odd number of backslashes is escaped.
        size_t backslashes = 0;
        while (text[at - 1 - backslashes] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return at + 1;
        ++at;
    }
}

// The length of the JSON value `text` starts with: a string to its closing quote, an object or an array to
// its closing bracket, anything else up to the next delimiter. Whether it is well-formed is for the parser
// that reads it.
size_t valueLength(std::string_view text)
{
    if (text.empty())
        throw Malformed{};
    if (text.front() == '"')
        return stringLength(text);
    if (text.front() == '{' || text.front() == '[') {
        int depth = 0;
        for (size_t at = 0; at < text.size(); ++at) {
            const char c = text[at];
            if (c == '"')
                at += stringLength(text.substr(at)) - 1;
            else if (c == '{' || c == '[')
                ++depth;
            else if ((c == '}' || c == ']') && --depth == 0)
                return at + 1;
        }
        throw Malformed{};
    }
    size_t at = 0;
    while (at < text.size() && !isSpace(text[at]) && text[at] != ',' && text[at] != '}' && text[at] != ']' &&
           text[at] != ':')
        ++at;
    if (at == 0)
        throw Malformed{};
    return at;
}

// The id an element starts with, as the kernel writes it: `{"id":"…"` (white space allowed), unescaped.
std::optional<std::string_view> leadingID(std::string_view json)
{
    size_t at = 1;
    const auto expect = [&json, &at](std::string_view token) {
        at = skipSpace(json, at);
        if (json.substr(at, token.size()) != token)
            return false;
        at += token.size();
        return true;
    };
    if (!expect("\"id\"") || !expect(":") || !expect("\""))
        return std::nullopt;
    size_t end = at;
    while (end < json.size() && json[end] != '"' && json[end] != '\\')
        ++end;
    if (end == json.size() || json[end] != '"')
        return std::nullopt;
    return json.substr(at, end - at);
}

Memory::Element Memory::element(std::string_view text)
{
    const auto id = leadingID(text);
    Known* known = id ? &connection(*id) : nullptr;
    if (known) {
        if (auto recalled = recall(*known, text))
            return *recalled;
        // Its last text belongs to the message before, which goes.
        known->text = {};
    }
    const size_t length = valueLength(text);
    return Element{read(text.substr(0, length), known), length};
}

std::optional<Memory::Element> Memory::recall(Known& known, std::string_view text)
{
    if (known.text.data() == nullptr || !known.item)
        return std::nullopt;
    const std::string_view last = known.text;
    size_t from = 0, at = 0;
    std::array<qint64, 2> counts{};
    std::array<Counter, 2> counters = known.counters;
    for (size_t i = 0; i < counts.size(); ++i) {
        const auto literal = static_cast<size_t>(known.counters[i].at) - from;
        if (text.substr(at, literal) != last.substr(from, literal))
            return std::nullopt;
        at += literal;
        const auto number = plainIntegerAt(text, at);
        if (!number)
            return std::nullopt;
        counts[i] = number->first;
        counters[i].at = static_cast<qsizetype>(at);
        at += static_cast<size_t>(number->second);
        counters[i].end = static_cast<qsizetype>(at);
        from = static_cast<size_t>(known.counters[i].end);
    }
    const std::string_view rest = last.substr(from);
    if (text.substr(at, rest.size()) != rest)
        return std::nullopt;
    const size_t length = at + rest.size();
    known.text = text.substr(0, length);
    known.counters = counters;
    ConnectionItem item = *known.item;
    for (size_t i = 0; i < counts.size(); ++i)
        (counters[i].upload ? item.upload : item.download) = counts[i];
    if (!item.start.isValid())
        item.start = QDateTime::currentDateTimeUtc();
    return Element{std::move(item), length, true};
}

Memory::Fields Memory::fields(ondemand::object& object, const char* text)
{
    Fields fields;
    ConnectionItem item;
    for (auto result : object) {
        ondemand::field field;
        check(std::move(result).get(field));
        const ondemand::raw_json_string key = field.key();
        Value& member = field.value();
        if (key.unsafe_is_equal("id")) {
            const auto id = stringOf(member);
            fields.hasID = id.has_value();
            item.id =
                fields.hasID ? QString::fromUtf8(id->data(), static_cast<qsizetype>(id->size())) : QString();
        } else if (key.unsafe_is_equal("upload") || key.unsafe_is_equal("download")) {
            const bool upload = key.unsafe_is_equal("upload");
            const std::string_view token = member.raw_json_token();
            const auto at = static_cast<qsizetype>(token.data() - text);
            const auto plain = plainIntegerAt(token, 0);
            // A plain integer's token is its digits and the white space after them.
            const bool recognisable =
                plain && token.find_first_not_of(" \n\r\t", static_cast<size_t>(plain->second)) ==
                             std::string_view::npos;
            if (fields.counterCount < 2)
                fields.counters[static_cast<size_t>(fields.counterCount)] =
                    Counter{at, recognisable ? at + plain->second : -1, upload};
            ++fields.counterCount;
            (upload ? item.upload : item.download) = numberOf(member).value_or(0);
        } else if (key.unsafe_is_equal("start")) {
            item.start = startOf(member);
        } else if (key.unsafe_is_equal("chains")) {
            item.chains = chainsOf(member, *this);
        } else if (key.unsafe_is_equal("rule")) {
            item.rule = pooledTextOf(member, *this);
        } else if (key.unsafe_is_equal("rulePayload")) {
            item.rulePayload = pooledTextOf(member, *this);
        } else if (key.unsafe_is_equal("metadata")) {
            item.metadata = metadataOf(member, *this);
        }
    }
    if (fields.hasID)
        fields.connection = std::move(item);
    return fields;
}

void Memory::remember(Known& known, const Fields& fields, std::string_view text)
{
    known.item = fields.connection ? std::make_shared<const ConnectionItem>(*fields.connection) : nullptr;
    const bool recognisable = fields.recognisable();
    known.text = recognisable ? text : std::string_view();
    if (recognisable)
        known.counters = fields.counters;
}

void Memory::rememberByID(const Fields& fields, std::string_view text)
{
    if (const auto id = leadingID(text)) {
        Known& known = connection(*id);
        remember(known, fields, text);
    }
}

std::optional<ConnectionItem> Memory::read(std::string_view json, Known* known)
{
    ondemand::document& document = m_element.document(json);
    ondemand::object object;
    check(document.get_object().get(object));
    Fields read = fields(object, m_element.text.data());
    if (known)
        remember(*known, read, json);
    if (read.connection && !read.connection->start.isValid())
        read.connection->start = QDateTime::currentDateTimeUtc();
    return std::move(read.connection);
}

ConnectionSnapshot Memory::readWhole(qsizetype expected)
{
    const std::string_view message = this->message();
    // The parser reads a little past the end: a message with room enough after it is read where it is.
    const char* text = message.data();
    if (static_cast<size_t>(m_message.capacity()) < message.size() + SIMDJSON_PADDING) {
        m_padded.resize(message.size() + SIMDJSON_PADDING);
        std::memcpy(m_padded.data(), message.data(), message.size());
        text = m_padded.data();
    }
    ondemand::document document;
    check(m_wholeParser.iterate(text, message.size(), message.size() + SIMDJSON_PADDING).get(document));
    ondemand::object object;
    check(document.get_object().get(object));
    ConnectionSnapshot snapshot;
    // Every element is remembered anew, so the connections remembered before go first, whole rather than
    // one by one at the end, and the new ones take the memory they leave.
    m_connections.clear();
    m_connections.reserve(expected);
    for (auto result : object) {
        ondemand::field field;
        check(std::move(result).get(field));
        const ondemand::raw_json_string key = field.key();
        Value& member = field.value();
        if (key.unsafe_is_equal("connections"))
            readConnections(member, document, text, snapshot, expected);
        else if (key.unsafe_is_equal("downloadTotal"))
            snapshot.downloadTotal = intOf(member).value_or(0);
        else if (key.unsafe_is_equal("uploadTotal"))
            snapshot.uploadTotal = intOf(member).value_or(0);
    }
    // Anything after the object makes the message malformed.
    const char* after = nullptr;
    if (document.current_location().get(after) != OUT_OF_BOUNDS)
        throw Malformed{};
    return snapshot;
}

void Memory::readConnections(Value& value, ondemand::document& document, const char* text,
                             ConnectionSnapshot& snapshot, qsizetype expected)
{
    snapshot.activeCount = 0;
    snapshot.connections.clear();
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::array)
        return;
    snapshot.connections.reserve(expected);
    ondemand::array elements;
    check(value.get_array().get(elements));
    for (auto result : elements) {
        Value element;
        check(std::move(result).get(element));
        ++snapshot.activeCount;
        check(element.type().get(type));
        if (type != ondemand::json_type::object)
            continue;
        const char* from = element.raw_json_token().data();
        ondemand::object object;
        check(element.get_object().get(object));
        Fields read = fields(object, from);
        // The element's text runs to the token after it (a comma or the closing bracket).
        const char* next = nullptr;
        check(document.current_location().get(next));
        while (next > from && isSpace(next[-1]))
            --next;
        if (expected == 0) {
            // Nothing told how many to make room for (a first message): as many as the rest of the message
            // holds of elements as long as this one.
            expected = (m_message.size() - (from - text)) / (next - from + 1);
            snapshot.connections.reserve(expected);
            m_connections.reserve(m_connections.size() + expected);
        }
        rememberByID(
            read, std::string_view(m_message.constData() + (from - text), static_cast<size_t>(next - from)));
        if (read.connection) {
            if (!read.connection->start.isValid())
                read.connection->start = QDateTime::currentDateTimeUtc();
            snapshot.connections.append(std::move(*read.connection));
        }
    }
}

// How many elements show whether a table is mostly the one seen before.
constexpr int kProbedElements = 16;

// The message's outer levels are walked here rather than by the parser: most elements of "connections" are
// recalled by their text alone, and a parser's walk would have to step through every one of them.
class MessageReader final
{
public:
    MessageReader(std::string_view text, Memory& memory) : m_text(text), m_memory(memory) {}

    // `expected`: how many connections to make room for. Absent when the first elements of "connections"
    // are mostly not recalled: element by element, a table never seen costs more than one pass of the
    // parser over the whole message.
    std::optional<ConnectionSnapshot> read(qsizetype expected)
    {
        ConnectionSnapshot snapshot;
        expect('{');
        if (!take('}')) {
            do {
                if (peek() != '"')
                    throw Malformed{};
                const std::string_view key = valueText();
                expect(':');
                if (key == "\"connections\"") {
                    if (!readConnections(snapshot, expected))
                        return std::nullopt;
                } else if (key == "\"downloadTotal\"") {
                    snapshot.downloadTotal = readInt();
                } else if (key == "\"uploadTotal\"") {
                    snapshot.uploadTotal = readInt();
                } else {
                    m_memory.value(valueText());
                }
            } while (take(','));
            expect('}');
        }
        // Anything after the object makes the message malformed.
        if (skipSpace(m_text, m_at) != m_text.size())
            throw Malformed{};
        return snapshot;
    }

private:
    // The next character past white space, or 0 at the end.
    char peek()
    {
        m_at = skipSpace(m_text, m_at);
        return m_at < m_text.size() ? m_text[m_at] : '\0';
    }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_at;
        return true;
    }
    void expect(char c)
    {
        if (!take(c))
            throw Malformed{};
    }
    std::string_view valueText()
    {
        peek();
        const std::string_view text = m_text.substr(m_at, valueLength(m_text.substr(m_at)));
        m_at += text.size();
        return text;
    }
    qint64 readInt()
    {
        Value value = m_memory.value(valueText());
        return intOf(value).value_or(0);
    }

    // False when the elements probed were mostly not recalled.
    bool readConnections(ConnectionSnapshot& snapshot, qsizetype expected)
    {
        snapshot.activeCount = 0;
        snapshot.connections.clear();
        if (peek() != '[') {
            m_memory.value(valueText());
            return true;
        }
        snapshot.connections.reserve(expected);
        ++m_at;
        if (take(']'))
            return true;
        int recalled = 0;
        do {
            ++snapshot.activeCount;
            if (peek() == '{') {
                Memory::Element element = m_memory.element(m_text.substr(m_at));
                m_at += element.length;
                recalled += element.recalled ? 1 : 0;
                if (snapshot.activeCount == kProbedElements && recalled * 2 < kProbedElements)
                    return false;
                if (element.connection)
                    snapshot.connections.append(std::move(*element.connection));
            } else {
                m_memory.value(valueText());
            }
        } while (take(','));
        expect(']');
        return true;
    }

    std::string_view m_text;
    size_t m_at = 0;
    Memory& m_memory;
};

// A connection as the kernel writes it (id, counters, chains, metadata) takes more bytes of JSON than this:
// room for more connections than the message can hold would only be wasted.
constexpr size_t kSmallestConnection = 256;

} // namespace

std::optional<ConnectionSnapshot> ConnectionSnapshotDecoder::decode(const QByteArray& utf8)
{
    // What one thread keeps from one message to the next: the memory and the size of the last table.
    struct State
    {
        Memory memory;
        qsizetype connections = 0;
    };
    thread_local State state;
    state.memory.beginMessage(utf8);
    std::optional<ConnectionSnapshot> snapshot;
    try {
        // As many as last time, as far as the message can hold them.
        const auto fits = static_cast<qsizetype>(state.memory.message().size() / kSmallestConnection);
        const qsizetype expected = std::min(state.connections, fits);
        // With nothing to recall from, the message goes straight to the parser.
        if (!state.memory.isEmpty())
            snapshot = MessageReader(state.memory.message(), state.memory).read(expected);
        if (!snapshot)
            snapshot = state.memory.readWhole(expected);
    } catch (const Malformed&) {
        snapshot.reset();
    }
    state.memory.endMessage();
    if (snapshot)
        state.connections = snapshot->connections.size();
    return snapshot;
}

} // namespace tarnwick
