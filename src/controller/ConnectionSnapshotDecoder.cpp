#include "ConnectionSnapshotDecoder.h"

#include <QDate>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <simdjson.h>
#include <string_view>
#include <unordered_map>

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

// The many connections of one message share few distinct protocols, rules, chains, processes and ports:
// each distinct text becomes one shared QString instead of one allocation per connection.
class TextPool final
{
public:
    QString text(std::string_view utf8)
    {
        const auto found = m_texts.find(utf8);
        if (found != m_texts.end())
            return found->second;
        QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        m_texts.emplace(utf8, text);
        return text;
    }

private:
    struct Hash
    {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, QString, Hash, std::equal_to<>> m_texts;
};

std::optional<std::string_view> stringOf(Value& value)
{
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::string)
        return std::nullopt;
    std::string_view text;
    check(value.get_string().get(text));
    return text;
}

QString textOf(Value& value)
{
    const auto text = stringOf(value);
    return text ? QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())) : QString();
}

QString pooledTextOf(Value& value, TextPool& pool)
{
    const auto text = stringOf(value);
    return text ? pool.text(*text) : QString();
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
    QStringList chains;
    bool mistyped = false;
    for (auto element : links) {
        Value link;
        check(element.get(link));
        const auto text = stringOf(link);
        // A chain with anything but strings in it is mistyped as a whole.
        if (!text)
            mistyped = true;
        else if (!mistyped)
            chains.append(pool.text(*text));
    }
    return mistyped ? QStringList() : chains;
}

ConnectionMetadata metadataOf(Value& value, TextPool& pool)
{
    ConnectionMetadata metadata;
    ondemand::json_type type;
    check(value.type().get(type));
    if (type != ondemand::json_type::object)
        return metadata;
    ondemand::object object;
    check(value.get_object().get(object));
    for (auto field : object) {
        std::string_view key;
        check(field.unescaped_key().get(key));
        Value member;
        check(field.value().get(member));
        if (key == "network")
            metadata.network = pooledTextOf(member, pool);
        else if (key == "type")
            metadata.type = pooledTextOf(member, pool);
        else if (key == "sourceIP")
            metadata.sourceIP = pooledTextOf(member, pool);
        else if (key == "destinationIP")
            metadata.destinationIP = pooledTextOf(member, pool);
        else if (key == "sourcePort")
            metadata.sourcePort = textOf(member);
        else if (key == "destinationPort")
            metadata.destinationPort = pooledTextOf(member, pool);
        else if (key == "host")
            metadata.host = pooledTextOf(member, pool);
        else if (key == "sniffHost")
            metadata.sniffHost = pooledTextOf(member, pool);
        else if (key == "process")
            metadata.process = pooledTextOf(member, pool);
        else if (key == "processPath")
            metadata.processPath = pooledTextOf(member, pool);
        else if (key == "remoteDestination")
            metadata.remoteDestination = pooledTextOf(member, pool);
        else if (key == "inboundName")
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
    for (auto field : object) {
        std::string_view key;
        check(field.unescaped_key().get(key));
        Value member;
        check(field.value().get(member));
        if (key == "id") {
            const auto id = stringOf(member);
            hasID = id.has_value();
            item.id = hasID ? QString::fromUtf8(id->data(), static_cast<qsizetype>(id->size())) : QString();
        } else if (key == "upload") {
            item.upload = numberOf(member).value_or(0);
        } else if (key == "download") {
            item.download = numberOf(member).value_or(0);
        } else if (key == "start") {
            item.start = startOf(member);
        } else if (key == "chains") {
            item.chains = chainsOf(member, pool);
        } else if (key == "rule") {
            item.rule = pooledTextOf(member, pool);
        } else if (key == "rulePayload") {
            item.rulePayload = pooledTextOf(member, pool);
        } else if (key == "metadata") {
            item.metadata = metadataOf(member, pool);
        }
    }
    if (!hasID)
        return std::nullopt;
    if (!item.start.isValid())
        item.start = QDateTime::currentDateTimeUtc();
    return item;
}

ConnectionSnapshot snapshotOf(ondemand::object& root)
{
    ConnectionSnapshot snapshot;
    TextPool pool;
    for (auto field : root) {
        std::string_view key;
        check(field.unescaped_key().get(key));
        Value member;
        check(field.value().get(member));
        if (key == "downloadTotal") {
            snapshot.downloadTotal = intOf(member).value_or(0);
        } else if (key == "uploadTotal") {
            snapshot.uploadTotal = intOf(member).value_or(0);
        } else if (key == "connections") {
            snapshot.activeCount = 0;
            snapshot.connections.clear();
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

} // namespace

std::optional<ConnectionSnapshot> ConnectionSnapshotDecoder::decode(const QByteArray& utf8)
{
    // One parser per thread keeps its buffers from one message to the next.
    thread_local ondemand::parser parser;
    const padded_string padded(utf8.constData(), static_cast<size_t>(utf8.size()));
    try {
        ondemand::document document;
        check(parser.iterate(padded).get(document));
        ondemand::object root;
        check(document.get_object().get(root));
        ConnectionSnapshot snapshot = snapshotOf(root);
        // Anything after the object makes the message malformed.
        if (document.current_location().error() != OUT_OF_BOUNDS)
            return std::nullopt;
        return snapshot;
    } catch (const Malformed&) {
        return std::nullopt;
    }
}

} // namespace tarnwick
