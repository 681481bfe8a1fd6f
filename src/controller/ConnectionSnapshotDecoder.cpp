#include "ConnectionSnapshotDecoder.h"

#include <QDate>
#include <QHash>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <cstring>
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

// The connection table is sent again every second and most of its texts come back unchanged: ids,
// addresses, ports, hosts, rules, processes. Each distinct text becomes one QString, shared by every
// connection that holds it and kept while the messages keep sending it, so a steady table is read
// without converting or allocating its texts again. One pool per thread, like the parser.
class TextPool final
{
public:
    QString text(std::string_view utf8)
    {
        Entry& entry = find(m_texts, utf8, [utf8] { return fromUtf8(utf8); });
        return entry.value;
    }

    // A chain by its JSON text (the array as the message spells it).
    QStringList chains(std::string_view json)
    {
        return find(m_chains, json, [this, json] { return readChains(json); }).value;
    }

    // Forgets what the message just read did not use.
    void endMessage()
    {
        const auto stale = [this](const auto& entry) { return entry.value().seen != m_message; };
        m_texts.removeIf(stale);
        m_chains.removeIf(stale);
        ++m_message;
    }

private:
    template <typename T> struct Pooled
    {
        T value;
        quint64 seen = 0;
    };
    using Entry = Pooled<QString>;

    QStringList readChains(std::string_view json);

    static QString fromUtf8(std::string_view utf8)
    {
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }

    template <typename T, typename Make>
    Pooled<T>& find(QHash<QByteArray, Pooled<T>>& pool, std::string_view utf8, Make make)
    {
        // A lookup borrows the message's bytes; only a new text copies them.
        const QByteArray key = QByteArray::fromRawData(utf8.data(), static_cast<qsizetype>(utf8.size()));
        auto found = pool.find(key);
        if (found == pool.end())
            found = pool.insert(QByteArray(key.constData(), key.size()), Pooled<T>{make(), 0});
        found->seen = m_message;
        return *found;
    }

    QHash<QByteArray, Entry> m_texts;
    QHash<QByteArray, Pooled<QStringList>> m_chains;
    quint64 m_message = 0;
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

// A chain seen for the first time, read from its own text: the message's walk has moved past it.
QStringList TextPool::readChains(std::string_view json)
{
    thread_local ondemand::parser parser;
    const padded_string padded(json);
    ondemand::document document;
    ondemand::array links;
    if (parser.iterate(padded).get(document) || document.get_array().get(links))
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

QString pooledTextOf(Value& value, TextPool& pool)
{
    const auto text = stringOf(value);
    return text ? pool.text(*text) : QString();
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

QStringList chainsOf(Value& value, TextPool& pool)
{
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::array)
        return {};
    ondemand::array links;
    check(value.get_array().get(links));
    std::string_view json;
    check(links.raw_json().get(json));
    return pool.chains(json);
}

// Field names are compared as the message spells them: the kernel never escapes its own field names.
ConnectionMetadata metadataOf(Value& value, TextPool& pool)
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
            metadata.network = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("type"))
            metadata.type = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("sourceIP"))
            metadata.sourceIP = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("destinationIP"))
            metadata.destinationIP = textOf(member);
        else if (key.unsafe_is_equal("sourcePort"))
            metadata.sourcePort = textOf(member);
        else if (key.unsafe_is_equal("destinationPort"))
            metadata.destinationPort = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("host"))
            metadata.host = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("sniffHost"))
            metadata.sniffHost = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("process"))
            metadata.process = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("processPath"))
            metadata.processPath = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("remoteDestination"))
            metadata.remoteDestination = pooledTextOf(member, pool);
        else if (key.unsafe_is_equal("inboundName"))
            metadata.inboundName = pooledTextOf(member, pool);
    }
    return metadata;
}

std::optional<ConnectionItem> connectionOf(Value& value, TextPool& pool)
{
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::object)
        return std::nullopt;
    ondemand::object object;
    check(value.get_object().get(object));
    ConnectionItem item;
    bool hasID = false;
    for (auto result : object) {
        ondemand::field field;
        check(std::move(result).get(field));
        const ondemand::raw_json_string key = field.key();
        Value& member = field.value();
        if (key.unsafe_is_equal("id")) {
            const auto id = stringOf(member);
            hasID = id.has_value();
            item.id = hasID ? QString::fromUtf8(id->data(), static_cast<qsizetype>(id->size())) : QString();
        } else if (key.unsafe_is_equal("upload")) {
            item.upload = numberOf(member).value_or(0);
        } else if (key.unsafe_is_equal("download")) {
            item.download = numberOf(member).value_or(0);
        } else if (key.unsafe_is_equal("start")) {
            item.start = startOf(member);
        } else if (key.unsafe_is_equal("chains")) {
            item.chains = chainsOf(member, pool);
        } else if (key.unsafe_is_equal("rule")) {
            item.rule = pooledTextOf(member, pool);
        } else if (key.unsafe_is_equal("rulePayload")) {
            item.rulePayload = pooledTextOf(member, pool);
        } else if (key.unsafe_is_equal("metadata")) {
            item.metadata = metadataOf(member, pool);
        }
    }
    if (!hasID)
        return std::nullopt;
    if (!item.start.isValid())
        item.start = QDateTime::currentDateTimeUtc();
    return item;
}

// `expected`: how many connections to make room for.
ConnectionSnapshot snapshotOf(ondemand::object& root, TextPool& pool, qsizetype expected)
{
    ConnectionSnapshot snapshot;
    for (auto field : root) {
        ondemand::raw_json_string key;
        check(field.key().get(key));
        Value member;
        check(field.value().get(member));
        if (key.unsafe_is_equal("downloadTotal")) {
            snapshot.downloadTotal = intOf(member).value_or(0);
        } else if (key.unsafe_is_equal("uploadTotal")) {
            snapshot.uploadTotal = intOf(member).value_or(0);
        } else if (key.unsafe_is_equal("connections")) {
            snapshot.activeCount = 0;
            snapshot.connections.clear();
            snapshot.connections.reserve(expected);
            ondemand::json_type type;
            check(member.type().get(type));
            if (type != ondemand::json_type::array)
                continue;
            ondemand::array elements;
            check(member.get_array().get(elements));
            for (auto element : elements) {
                Value connection;
                check(element.get(connection));
                ++snapshot.activeCount;
                if (auto item = connectionOf(connection, pool))
                    snapshot.connections.append(std::move(*item));
            }
        }
    }
    return snapshot;
}

// A connection as the kernel writes it (id, counters, chains, metadata) takes more bytes of JSON than this:
// room for more connections than the message can hold would only be wasted.
constexpr size_t kSmallestConnection = 256;
// Buffers below this size are kept whatever the message.
constexpr size_t kShrinkFloor = 1 << 20;

} // namespace

std::optional<ConnectionSnapshot> ConnectionSnapshotDecoder::decode(const QByteArray& utf8)
{
    // What one thread keeps from one message to the next: the parser's buffers, the padded copy of the
    // text, the pooled texts and the size of the last table.
    struct State
    {
        ondemand::parser parser;
        std::vector<char> padded;
        TextPool pool;
        qsizetype connections = 0;
    };
    thread_local State state;
    const auto length = static_cast<size_t>(utf8.size());
    // The copy grows with the messages and shrinks again when the table has become much smaller.
    if (state.padded.size() < length + SIMDJSON_PADDING || state.padded.size() > 4 * length + kShrinkFloor)
        std::vector<char>(length + SIMDJSON_PADDING).swap(state.padded);
    std::memcpy(state.padded.data(), utf8.constData(), length);
    std::memset(state.padded.data() + length, 0, SIMDJSON_PADDING);
    std::optional<ConnectionSnapshot> snapshot;
    try {
        ondemand::document document;
        check(state.parser.iterate(state.padded.data(), length, state.padded.size()).get(document));
        ondemand::object root;
        check(document.get_object().get(root));
        // As many as last time, as far as the message can hold them.
        const auto fits = static_cast<qsizetype>(length / kSmallestConnection);
        snapshot = snapshotOf(root, state.pool, std::min(state.connections, fits));
        // Anything after the object makes the message malformed.
        if (document.current_location().error() != OUT_OF_BOUNDS)
            snapshot.reset();
    } catch (const Malformed&) {
        snapshot.reset();
    }
    state.pool.endMessage();
    if (snapshot)
        state.connections = snapshot->connections.size();
    return snapshot;
}

} // namespace tarnwick
