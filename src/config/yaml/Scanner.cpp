#include "Scanner.h"

#include "Utf8.h"
#include "YAMLError.h"

#include <array>
#include <cstring>

namespace tarnwick {

namespace {

// Character classes of ASCII bytes, for the byte loops.
enum : quint8
{
    Blank = 1,         // space, tab
    Break = 2,         // LF, CR
    FlowIndicator = 4, // , [ ] { }
    StopPlainBlock = 8,
    StopPlainFlow = 16,
    StopSingle = 32,
    StopDouble = 64,
};

constexpr std::array<quint8, 256> makeClasses()
{
    std::array<quint8, 256> table{};
    for (const unsigned char c : {' ', '\t'})
        table[c] |= Blank | StopPlainBlock | StopPlainFlow;
    for (const unsigned char c : {'\n', '\r'})
        table[c] |= Break | StopPlainBlock | StopPlainFlow | StopSingle | StopDouble;
    for (const unsigned char c : {',', '[', ']', '{', '}'})
        table[c] |= FlowIndicator | StopPlainFlow;
    table[':'] |= StopPlainBlock | StopPlainFlow;
    table['\''] |= StopSingle;
    table['"'] |= StopDouble;
    table['\\'] |= StopDouble;
    table[0] |= StopPlainBlock | StopPlainFlow;
    return table;
}

constexpr std::array<quint8, 256> classes = makeClasses();

inline quint8 classOf(char c)
{
    return classes[static_cast<unsigned char>(c)];
}

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

inline bool isBlankOrBreak(char c)
{
    return classOf(c) & (Blank | Break);
}

inline bool isFlowIndicator(char c)
{
    return classOf(c) & FlowIndicator;
}

inline bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

inline bool isWordChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

// Characters of a URI as YAML allows them in tags (before any percent-decoding).
inline bool isUriChar(char c)
{
    if (isWordChar(c))
        return true;
    switch (c) {
    case '%':
    case ';':
    case '/':
    case '?':
    case ':':
    case '@':
    case '&':
    case '=':
    case '+':
    case '$':
    case ',':
    case '_':
    case '.':
    case '!':
    case '~':
    case '*':
    case '\'':
    case '(':
    case ')':
    case '[':
    case ']':
    case '#':
        return true;
    default:
        return static_cast<unsigned char>(c) >= 0x80;
    }
}

// Number of Unicode scalars in well-formed UTF-8 bytes: the bytes that are not continuation bytes.
inline int countScalars(const char* begin, const char* end)
{
    int count = int(end - begin);
    const char* p = begin;
    for (; end - p >= 8; p += 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        // A continuation byte is 10xxxxxx: high bit set, next bit clear.
        const quint64 continuation = (word & ~(word << 1) & 0x8080808080808080ULL) >> 7;
        count -= int((continuation * 0x0101010101010101ULL) >> 56); // sums the eight flags
    }
    for (; p != end; ++p)
        count -= (static_cast<unsigned char>(*p) & 0xC0) == 0x80;
    return count;
}

// The character (one Unicode scalar) at a position, for messages.
QString characterAt(const char* data, qsizetype size, qsizetype pos)
{
    const int length = std::max(1, utf8::sequenceLength(static_cast<unsigned char>(data[pos])));
    return utf8::toString(QByteArrayView(data + pos, std::min<qsizetype>(length, size - pos)));
}

constexpr qsizetype maxSimpleKeyLength = 1024;

} // namespace

Scanner::Scanner(QByteArrayView utf8) : m_data(utf8.data()), m_size(utf8.size())
{
    if (hasByteOrderMark())
        m_pos = m_lineStart = m_columnPos = 3;
    m_tagDirectives.insert(QByteArrayLiteral("!!"), QByteArrayLiteral("tag:yaml.org,2002:"));
    m_simpleKeys.emplace_back();
}

Token Scanner::next()
{
    if (!m_tokenAvailable)
        fetchMoreTokens();
    Token& front = m_tokenQueue[m_queueHead];
    if (front.kind == Token::Kind::streamEnd)
        return front;
    Token token = std::move(front);
    if (++m_queueHead == m_tokenQueue.size()) {
        m_tokenQueue.clear();
        m_queueHead = 0;
    }
    ++m_tokensParsed;
    m_tokenAvailable = false;
    return token;
}

void Scanner::skip()
{
    if (!m_tokenAvailable)
        fetchMoreTokens();
    if (m_tokenQueue[m_queueHead].kind == Token::Kind::streamEnd)
        return;
    if (++m_queueHead == m_tokenQueue.size()) {
        m_tokenQueue.clear();
        m_queueHead = 0;
    }
    ++m_tokensParsed;
    m_tokenAvailable = false;
}

const Token& Scanner::peek()
{
    if (!m_tokenAvailable)
        fetchMoreTokens();
    return m_tokenQueue[m_queueHead];
}

bool Scanner::blankOrEndAt(qsizetype pos) const
{
    return pos >= m_size || isBlankOrBreak(m_data[pos]);
}

Mark Scanner::markAt(qsizetype pos)
{
    if (pos < m_columnPos) {
        m_columnPos = m_lineStart;
        m_column = 1;
    }
    m_column += countScalars(m_data + m_columnPos, m_data + pos);
    m_columnPos = pos;
    return Mark{m_line, m_column, pos};
}

void Scanner::consumeBreak()
{
    if (m_data[m_pos] == '\r' && at(m_pos + 1) == '\n')
        m_pos += 2;
    else
        ++m_pos;
    ++m_line;
    m_lineStart = m_columnPos = m_pos;
    m_column = 1;
}

bool Scanner::atDocumentIndicator() const
{
    if (m_pos != m_lineStart || m_size - m_pos < 3)
        return false;
    const char* p = m_data + m_pos;
    const bool marker =
        (p[0] == '-' && p[1] == '-' && p[2] == '-') || (p[0] == '.' && p[1] == '.' && p[2] == '.');
    return marker && blankOrEndAt(m_pos + 3);
}

void Scanner::fail(const QString& message, const Mark& mark) const
{
    throw YAMLError::scanner(message, mark);
}

void Scanner::failAtOffset(const QString& message, qsizetype offset) const
{
    // Only for positions before the current line: walk from the start to find line and column.
    Mark mark;
    qsizetype lineStart = hasByteOrderMark() ? 3 : 0;
    for (qsizetype i = lineStart; i < offset; ++i) {
        if (m_data[i] == '\n' || (m_data[i] == '\r' && at(i + 1) != '\n')) {
            ++mark.line;
            lineStart = i + 1;
        }
    }
    mark.column = 1 + countScalars(m_data + lineStart, m_data + offset);
    mark.utf8Offset = offset;
    fail(message, mark);
}

void Scanner::validateInput() const
{
    const qsizetype valid = utf8::validPrefix(m_data, m_data + m_size);
    const auto check = [this](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            const auto c = static_cast<unsigned char>(m_data[i]);
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F)
                failAtOffset(QStringLiteral("control characters are not allowed"), i);
        }
    };
    qsizetype i = 0;
    for (; valid - i >= 8; i += 8) {
        quint64 word;
        std::memcpy(&word, m_data + i, 8);
        // Only words that may hold a byte below 0x20 or a DEL need the exact check (the "has less than"
        // bit trick; it may flag a word falsely, never miss one).
        constexpr quint64 ones = 0x0101010101010101ULL;
        constexpr quint64 highs = 0x8080808080808080ULL;
        const quint64 below = (word - ones * 0x20) & ~word & highs;
        const quint64 del = word ^ (ones * 0x7F);
        if ((below | ((del - ones) & ~del & highs)) != 0)
            check(i, i + 8);
    }
    check(i, valid);
    if (valid != m_size)
        failAtOffset(QStringLiteral("invalid UTF-8"), valid);
}

// Token queue -------------------------------------------------------------------------------------------

void Scanner::insertToken(qsizetype tokenNumber, Token::Kind kind, const Mark& mark)
{
    m_tokenQueue.emplace(m_tokenQueue.begin() + qsizetype(m_queueHead) + (tokenNumber - m_tokensParsed), kind,
                         mark);
}

Token& Scanner::addToken(Token::Kind kind, const Mark& mark)
{
    m_tokenQueue.emplace_back(kind, mark);
    return m_tokenQueue.back();
}

void Scanner::fetchMoreTokens()
{
    for (;;) {
        bool needMore = queued() == 0;
        if (!needMore) {
            if (m_streamEnded) {
                m_tokenAvailable = true;
                return;
            }
            staleSimpleKeys();
            for (const SimpleKey& key : m_simpleKeys) {
                if (key.possible && key.tokenNumber == m_tokensParsed) {
                    needMore = true;
                    break;
                }
            }
        }
        if (!needMore) {
            m_tokenAvailable = true;
            return;
        }
        fetchNextToken();
    }
}

void Scanner::staleSimpleKeys()
{
    for (SimpleKey& key : m_simpleKeys) {
        if (key.possible && (key.mark.line < m_line || key.mark.utf8Offset + maxSimpleKeyLength < m_pos)) {
            if (key.required)
                fail(QStringLiteral("could not find expected ':'"), key.mark);
            key.possible = false;
        }
    }
}

void Scanner::saveSimpleKey()
{
    if (!m_simpleKeyAllowed)
        return;
    const Mark here = mark();
    const bool required = m_flows.empty() && m_indent == here.column - 1;
    removeSimpleKey();
    m_simpleKeys.back() =
        SimpleKey{true, required, m_tabBeforeToken ? std::optional<Mark>(m_tabMark) : std::nullopt,
                  m_tokensParsed + queued(), here};
}

void Scanner::removeSimpleKey()
{
    SimpleKey& key = m_simpleKeys.back();
    if (key.possible && key.required)
        fail(QStringLiteral("could not find expected ':'"), key.mark);
    key.possible = false;
}

void Scanner::rollIndent(int column, qsizetype tokenNumber, Token::Kind kind, const Mark& mark)
{
    if (!m_flows.empty() || m_indent >= column)
        return;
    m_indents.push_back(m_indent);
    m_indent = column;
    if (tokenNumber < 0)
        m_tokenQueue.emplace_back(kind, mark);
    else
        insertToken(tokenNumber, kind, mark);
}

void Scanner::unrollIndent(int column)
{
    if (!m_flows.empty())
        return;
    while (m_indent > column) {
        addToken(Token::Kind::blockEnd, mark());
        m_indent = m_indents.back();
        m_indents.pop_back();
    }
}

void Scanner::scanToNextToken()
{
    m_tabBeforeToken = false;
    for (;;) {
        const bool lineStart = m_pos == m_lineStart;
        while (m_pos < m_size && m_data[m_pos] == ' ')
            ++m_pos;
        const qsizetype indentation = m_pos - m_lineStart;
        while (m_pos < m_size && isBlank(m_data[m_pos])) {
            if (m_data[m_pos] == '\t' && !m_tabBeforeToken) {
                m_tabBeforeToken = true;
                m_tabMark = mark();
            }
            ++m_pos;
        }
        if (m_pos >= m_size)
            return;
        // A comment needs white space before it, or the start of a line.
        if (m_data[m_pos] == '#' && (m_pos == m_lineStart || isBlank(m_data[m_pos - 1]))) {
            while (m_pos < m_size && !isBreak(m_data[m_pos]))
                ++m_pos;
            if (m_pos >= m_size)
                return;
        }
        if (!isBreak(m_data[m_pos])) {
            // Lines inside a flow collection must be indented deeper than the enclosing block (only
            // spaces count as indentation); a closing bracket may stand at the block's own column.
            if (lineStart && !m_flows.empty() && indentation <= m_indent && !atDocumentIndicator() &&
                !(indentation == m_indent && (m_data[m_pos] == ']' || m_data[m_pos] == '}')))
                fail(QStringLiteral("flow content must be indented deeper than the enclosing block"), mark());
            break;
        }
        consumeBreak();
        m_tabBeforeToken = false;
        if (m_flows.empty())
            m_simpleKeyAllowed = true;
    }
}

void Scanner::fetchNextToken()
{
    if (!m_streamStarted) {
        fetchStreamStart();
        return;
    }
    scanToNextToken();
    staleSimpleKeys();
    unrollIndent(column0());
    const bool adjacentValue = m_adjacentValueAllowed;
    m_adjacentValueAllowed = false;

    if (m_pos >= m_size) {
        fetchStreamEnd();
        return;
    }
    const char c = m_data[m_pos];
    if (m_pos == m_lineStart) {
        if (c == '%') {
            fetchDirective();
            return;
        }
        if (atDocumentIndicator()) {
            fetchDocumentIndicator(c == '-' ? Token::Kind::documentStart : Token::Kind::documentEnd);
            return;
        }
    }
    if (m_directivesPending)
        fail(QStringLiteral("expected a document start marker ('---') after directives"), mark());
    m_documentStarted = true;

    const char next = at(m_pos + 1);
    const bool flow = !m_flows.empty();
    switch (c) {
    case '[':
        fetchFlowCollectionStart(false);
        return;
    case '{':
        fetchFlowCollectionStart(true);
        return;
    case ']':
        fetchFlowCollectionEnd(false);
        return;
    case '}':
        fetchFlowCollectionEnd(true);
        return;
    case ',':
        fetchFlowEntry();
        return;
    case '-':
        if (blankOrEndAt(m_pos + 1)) {
            fetchBlockEntry();
            return;
        }
        if (flow && isFlowIndicator(next))
            fail(QStringLiteral("found character '-' that cannot start any token"), mark());
        break;
    case '?':
        if (blankOrEndAt(m_pos + 1)) {
            fetchKey();
            return;
        }
        if (flow && isFlowIndicator(next))
            fail(QStringLiteral("found character '?' that cannot start any token"), mark());
        break;
    case ':':
        if (blankOrEndAt(m_pos + 1) || (flow && (adjacentValue || isFlowIndicator(next)))) {
            fetchValue();
            return;
        }
        break;
    case '*':
        fetchAnchor(true);
        return;
    case '&':
        fetchAnchor(false);
        return;
    case '!':
        fetchTag();
        return;
    case '|':
    case '>':
        if (!flow) {
            fetchBlockScalar(c == '|');
            return;
        }
        fail(QStringLiteral("found character '%1' that cannot start any token").arg(QLatin1Char(c)), mark());
    case '\'':
        fetchQuotedScalar(true);
        return;
    case '"':
        fetchQuotedScalar(false);
        return;
    case '@':
    case '`':
        fail(QStringLiteral("reserved indicator '%1' cannot start a plain scalar").arg(QLatin1Char(c)),
             mark());
    case '#':
        fail(QStringLiteral("a comment must be separated from other tokens by white space"), mark());
    case '%':
        fail(QStringLiteral("found character '%' that cannot start any token"), mark());
    case '\xEF':
        if (next == '\xBB' && at(m_pos + 2) == '\xBF')
            fail(QStringLiteral("BOM must not appear inside a document"), mark());
        break;
    default:
        break;
    }
    fetchPlainScalar();
}

// Stream, directives, documents -------------------------------------------------------------------------

void Scanner::fetchStreamStart()
{
    validateInput();
    m_streamStarted = true;
    m_simpleKeyAllowed = true;
    addToken(Token::Kind::streamStart, mark());
}

void Scanner::fetchStreamEnd()
{
    if (!m_flows.empty()) {
        const OpenFlow& open = m_flows.back();
        fail(open.mapping ? QStringLiteral("unterminated flow mapping")
                          : QStringLiteral("unterminated flow sequence"),
             open.mark);
    }
    if (m_directivesPending)
        fail(QStringLiteral("expected a document start marker ('---') after directives"), mark());
    unrollIndent(-1);
    removeSimpleKey();
    m_simpleKeyAllowed = false;
    addToken(Token::Kind::streamEnd, mark());
    m_streamEnded = true;
}

void Scanner::resetDirectives()
{
    m_tagDirectives.clear();
    m_tagDirectives.insert(QByteArrayLiteral("!!"), QByteArrayLiteral("tag:yaml.org,2002:"));
    m_declaredHandles.clear();
    m_yamlDirectiveSeen = false;
}

// After a directive or a document end marker only white space and a comment may follow on the line.
void Scanner::skipLineEnd(const QString& what)
{
    const qsizetype start = m_pos;
    while (m_pos < m_size && isBlank(m_data[m_pos]))
        ++m_pos;
    if (m_pos < m_size && m_data[m_pos] == '#' && m_pos > start) {
        while (m_pos < m_size && !isBreak(m_data[m_pos]))
            ++m_pos;
    }
    if (m_pos < m_size && !isBreak(m_data[m_pos]))
        fail(QStringLiteral("unexpected text after %1").arg(what), mark());
}

QByteArray Scanner::scanTagHandle()
{
    // "!", "!!" or "!word!"; the caller stands on the first "!".
    const qsizetype start = m_pos++;
    while (m_pos < m_size && isWordChar(m_data[m_pos]))
        ++m_pos;
    if (m_pos < m_size && m_data[m_pos] == '!')
        ++m_pos;
    else if (m_pos != start + 1)
        m_pos = start + 1; // "!suffix": the handle is the lone "!"
    return QByteArray(m_data + start, m_pos - start);
}

void Scanner::fetchDirective()
{
    unrollIndent(-1);
    removeSimpleKey();
    m_simpleKeyAllowed = false;
    const Mark start = mark();
    if (m_documentStarted)
        fail(QStringLiteral("a directive must be preceded by a document end marker ('...')"), start);

    ++m_pos;
    const qsizetype nameStart = m_pos;
    while (m_pos < m_size && !isBlankOrBreak(m_data[m_pos]))
        ++m_pos;
    const QByteArrayView name(m_data + nameStart, m_pos - nameStart);
    const auto skipBlanks = [this] {
        const qsizetype before = m_pos;
        while (m_pos < m_size && isBlank(m_data[m_pos]))
            ++m_pos;
        return m_pos > before;
    };

    if (name == "YAML") {
        if (m_yamlDirectiveSeen)
            fail(QStringLiteral("duplicate %YAML directive"), start);
        m_yamlDirectiveSeen = true;
        skipBlanks();
        const qsizetype versionStart = m_pos;
        while (m_pos < m_size && ((m_data[m_pos] >= '0' && m_data[m_pos] <= '9') || m_data[m_pos] == '.'))
            ++m_pos;
        const QByteArrayView version(m_data + versionStart, m_pos - versionStart);
        const qsizetype dot = version.indexOf('.');
        if (dot <= 0 || dot == version.size() - 1 || version.lastIndexOf('.') != dot)
            fail(QStringLiteral("invalid %YAML directive version"), markAt(versionStart));
        skipLineEnd(QStringLiteral("a directive"));
    } else if (name == "TAG") {
        skipBlanks();
        const Mark handleMark = mark();
        if (current() != '!')
            fail(QStringLiteral("invalid %TAG directive handle"), handleMark);
        const QByteArray handle = scanTagHandle();
        if (handle.size() > 1 && !handle.endsWith('!'))
            fail(QStringLiteral("invalid %TAG directive handle"), handleMark);
        if (!skipBlanks())
            fail(QStringLiteral("invalid %TAG directive handle"), handleMark);
        const qsizetype prefixStart = m_pos;
        while (m_pos < m_size && isUriChar(m_data[m_pos]))
            ++m_pos;
        if (m_pos == prefixStart || !blankOrEndAt(m_pos))
            fail(QStringLiteral("invalid %TAG directive prefix"), markAt(prefixStart));
        if (m_declaredHandles.contains(handle))
            fail(QStringLiteral("duplicate %TAG directive for handle '%1'").arg(QString::fromUtf8(handle)),
                 start);
        m_declaredHandles.insert(handle);
        m_tagDirectives.insert(handle, QByteArray(m_data + prefixStart, m_pos - prefixStart));
        skipLineEnd(QStringLiteral("a directive"));
    } else {
        while (m_pos < m_size && !isBreak(m_data[m_pos]))
            ++m_pos;
    }
    m_directivesPending = true;
}

void Scanner::fetchDocumentIndicator(Token::Kind kind)
{
    unrollIndent(-1);
    removeSimpleKey();
    m_simpleKeyAllowed = false;
    addToken(kind, mark());
    m_pos += 3;
    if (kind == Token::Kind::documentStart) {
        if (!m_directivesPending)
            resetDirectives();
        m_directivesPending = false;
        m_documentStarted = true;
    } else {
        if (m_directivesPending)
            fail(QStringLiteral("expected a document start marker ('---') after directives"),
                 m_tokenQueue.back().mark);
        resetDirectives();
        m_documentStarted = false;
        skipLineEnd(QStringLiteral("a document end marker"));
    }
}

// Flow and block indicators ----------------------------------------------------------------------------

void Scanner::fetchFlowCollectionStart(bool mapping)
{
    saveSimpleKey();
    const Mark here = mark();
    m_flows.push_back(OpenFlow{mapping, here});
    m_simpleKeys.emplace_back();
    m_simpleKeyAllowed = true;
    addToken(mapping ? Token::Kind::flowMappingStart : Token::Kind::flowSequenceStart, here);
    ++m_pos;
}

void Scanner::fetchFlowCollectionEnd(bool mapping)
{
    removeSimpleKey();
    if (!m_flows.empty()) {
        m_flows.pop_back();
        m_simpleKeys.pop_back();
    }
    m_simpleKeyAllowed = false;
    addToken(mapping ? Token::Kind::flowMappingEnd : Token::Kind::flowSequenceEnd, mark());
    ++m_pos;
    m_adjacentValueAllowed = !m_flows.empty();
}

void Scanner::fetchFlowEntry()
{
    removeSimpleKey();
    m_simpleKeyAllowed = true;
    addToken(Token::Kind::flowEntry, mark());
    ++m_pos;
}

void Scanner::fetchBlockEntry()
{
    const Mark here = mark();
    if (m_flows.empty()) {
        if (m_tabBeforeToken)
            fail(QStringLiteral("tabs are not allowed as indentation"), m_tabMark);
        if (!m_simpleKeyAllowed)
            fail(QStringLiteral("block sequence entries are not allowed here"), here);
        rollIndent(here.column - 1, -1, Token::Kind::blockSequenceStart, here);
    }
    removeSimpleKey();
    m_simpleKeyAllowed = true;
    addToken(Token::Kind::blockEntry, here);
    ++m_pos;
}

void Scanner::fetchKey()
{
    const Mark here = mark();
    if (m_flows.empty()) {
        if (m_tabBeforeToken)
            fail(QStringLiteral("tabs are not allowed as indentation"), m_tabMark);
        if (!m_simpleKeyAllowed)
            fail(QStringLiteral("mapping keys are not allowed here"), here);
        rollIndent(here.column - 1, -1, Token::Kind::blockMappingStart, here);
    }
    removeSimpleKey();
    m_simpleKeyAllowed = m_flows.empty();
    addToken(Token::Kind::key, here);
    ++m_pos;
}

void Scanner::fetchValue()
{
    const Mark here = mark();
    SimpleKey& key = m_simpleKeys.back();
    if (key.possible) {
        if (key.tabMark && m_flows.empty())
            fail(QStringLiteral("tabs are not allowed as indentation"), *key.tabMark);
        // The node that started at the simple key is a mapping key: insert the key token ahead of it, and
        // open a block mapping there when it stands deeper than the current level.
        insertToken(key.tokenNumber, Token::Kind::key, key.mark);
        rollIndent(key.mark.column - 1, key.tokenNumber, Token::Kind::blockMappingStart, key.mark);
        key.possible = false;
        m_simpleKeyAllowed = false;
    } else {
        if (m_flows.empty()) {
            if (!m_simpleKeyAllowed)
                fail(QStringLiteral("mapping values are not allowed here"), here);
            rollIndent(here.column - 1, -1, Token::Kind::blockMappingStart, here);
        }
        m_simpleKeyAllowed = m_flows.empty();
    }
    addToken(Token::Kind::value, here);
    ++m_pos;
}

// Anchors, aliases, tags --------------------------------------------------------------------------------

void Scanner::fetchAnchor(bool alias)
{
    saveSimpleKey();
    m_simpleKeyAllowed = false;
    const Mark start = mark();
    const qsizetype nameStart = ++m_pos;
    while (m_pos < m_size && !(classOf(m_data[m_pos]) & (Blank | Break | FlowIndicator)))
        ++m_pos;
    if (m_pos == nameStart)
        fail(alias ? QStringLiteral("empty alias name") : QStringLiteral("empty anchor name"), start);
    Token& token = addToken(alias ? Token::Kind::alias : Token::Kind::anchor, start);
    token.text = QByteArrayView(m_data + nameStart, m_pos - nameStart);
    token.endMark = mark();
}

void Scanner::fetchTag()
{
    saveSimpleKey();
    m_simpleKeyAllowed = false;
    const Mark start = mark();
    QByteArray resolved;
    if (at(m_pos + 1) == '<') {
        m_pos += 2;
        const qsizetype uriStart = m_pos;
        while (m_pos < m_size && m_data[m_pos] != '>') {
            const char c = m_data[m_pos];
            if (isBreak(c))
                break;
            if (isBlank(c))
                fail(QStringLiteral("invalid character in verbatim tag URI"), mark());
            ++m_pos;
        }
        if (m_pos >= m_size || m_data[m_pos] != '>')
            fail(QStringLiteral("unterminated verbatim tag"), start);
        resolved = QByteArray(m_data + uriStart, m_pos - uriStart);
        ++m_pos;
        bool valid = !resolved.isEmpty() && resolved != "!";
        for (const char c : std::as_const(resolved))
            valid = valid && isUriChar(c);
        if (!valid)
            fail(QStringLiteral("invalid verbatim tag '!<%1>'").arg(QString::fromUtf8(resolved)), start);
    } else {
        const QByteArray handle = scanTagHandle();
        const qsizetype suffixStart = m_pos;
        while (m_pos < m_size && isUriChar(m_data[m_pos]) && !isFlowIndicator(m_data[m_pos]))
            ++m_pos;
        const QByteArrayView suffix(m_data + suffixStart, m_pos - suffixStart);
        if (suffix.isEmpty()) {
            if (handle != "!")
                fail(QStringLiteral("tag shorthand '%1' must have a non-empty suffix")
                         .arg(QString::fromUtf8(handle)),
                     start);
            resolved = handle; // the non-specific tag
        } else {
            const auto prefix = m_tagDirectives.constFind(handle);
            if (prefix != m_tagDirectives.cend())
                resolved = *prefix + suffix.toByteArray();
            else if (handle == "!") // the primary handle needs no declaration
                resolved = handle + suffix.toByteArray();
            else
                fail(QStringLiteral("undeclared tag handle '%1'").arg(QString::fromUtf8(handle)), start);
        }
    }
    if (!blankOrEndAt(m_pos) && !(!m_flows.empty() && isFlowIndicator(m_data[m_pos])))
        fail(QStringLiteral("a tag must be followed by white space"), mark());
    Token& token = addToken(Token::Kind::tag, start);
    token.storage = std::move(resolved);
    token.text = token.storage;
    token.endMark = mark();
}

// Scalars -----------------------------------------------------------------------------------------------

// Skips the empty lines before the next content line of a block scalar, counting them. `indent` is the
// content indentation, or -1 while it is still to be detected (then `maxLeadingIndent` collects the
// deepest leading spaces seen).
void Scanner::scanBlockScalarBreaks(int& indent, int& breaks, int& maxLeadingIndent, int minIndent)
{
    for (;;) {
        while ((indent < 0 || m_pos - m_lineStart < indent) && current() == ' ')
            ++m_pos;
        const int column = int(m_pos - m_lineStart);
        maxLeadingIndent = std::max(maxLeadingIndent, column);
        if ((indent < 0 || column < indent) && current() == '\t') {
            qsizetype p = m_pos;
            while (p < m_size && isBlank(m_data[p]))
                ++p;
            const bool emptyLine = p >= m_size || isBreak(m_data[p]);
            if (indent < 0 && column >= minIndent)
                return; // the tab is content; its line fixes the indentation
            if (!emptyLine || indent < 0)
                fail(QStringLiteral("tabs are not allowed as indentation"), mark());
            m_pos = p;
        }
        if (m_pos >= m_size) {
            // A last line of white space without a line break still counts as a line.
            if (m_pos > m_lineStart && (indent < 0 || column < indent))
                ++breaks;
            return;
        }
        if (!isBreak(m_data[m_pos]))
            return;
        consumeBreak();
        ++breaks;
    }
}

void Scanner::fetchBlockScalar(bool literal)
{
    removeSimpleKey();
    m_simpleKeyAllowed = true;
    const Mark start = mark();
    ++m_pos;

    int chomping = 0; // -1 strip, 0 clip, +1 keep
    int increment = 0;
    for (int i = 0; i < 2; ++i) {
        const char c = current();
        if ((c == '+' || c == '-') && chomping == 0) {
            chomping = c == '+' ? 1 : -1;
            ++m_pos;
        } else if (c >= '0' && c <= '9' && increment == 0) {
            if (c == '0')
                fail(QStringLiteral("block scalar indentation indicator must be between 1 and 9"), mark());
            increment = c - '0';
            ++m_pos;
        }
    }
    const qsizetype headerEnd = m_pos;
    while (m_pos < m_size && isBlank(m_data[m_pos]))
        ++m_pos;
    if (current() == '#' && m_pos > headerEnd) {
        while (m_pos < m_size && !isBreak(m_data[m_pos]))
            ++m_pos;
    }
    if (m_pos < m_size && !isBreak(m_data[m_pos]))
        fail(QStringLiteral("expected a comment or a line break after a block scalar header"), mark());
    Mark endMark = mark();
    if (m_pos < m_size)
        consumeBreak();

    const int minIndent = m_indent + 1;
    int indent = increment ? std::max(m_indent, 0) + increment : -1;
    int trailingBreaks = 0;
    int maxLeadingIndent = 0;
    scanBlockScalarBreaks(indent, trailingBreaks, maxLeadingIndent, minIndent);
    if (indent < 0) {
        indent = std::max(maxLeadingIndent, minIndent);
        const int firstContent = int(m_pos - m_lineStart);
        if (m_pos < m_size && !isBreak(current()) && firstContent < maxLeadingIndent &&
            firstContent >= minIndent)
            fail(QStringLiteral(
                     "a leading empty line of a block scalar has more spaces than its first content line"),
                 mark());
    }

    QByteArray text;
    bool leadingBreak = false;
    bool leadingBlank = false;
    while (m_pos - m_lineStart == indent && m_pos < m_size && !atDocumentIndicator()) {
        const bool trailingBlank = isBlank(current());
        if (!literal && leadingBreak && !leadingBlank && !trailingBlank) {
            if (trailingBreaks == 0)
                text.append(' ');
        } else if (leadingBreak) {
            text.append('\n');
        }
        leadingBreak = false;
        text.append(trailingBreaks, '\n');
        trailingBreaks = 0;
        leadingBlank = isBlank(current());
        const qsizetype lineStart = m_pos;
        bool blankLine = true;
        while (m_pos < m_size && !isBreak(m_data[m_pos])) {
            blankLine = blankLine && isBlank(m_data[m_pos]);
            ++m_pos;
        }
        text.append(m_data + lineStart, m_pos - lineStart);
        endMark = mark();
        if (m_pos >= m_size) {
            leadingBreak = blankLine; // see scanBlockScalarBreaks
            break;
        }
        consumeBreak();
        leadingBreak = true;
        scanBlockScalarBreaks(indent, trailingBreaks, maxLeadingIndent, minIndent);
    }
    if (chomping != -1 && leadingBreak)
        text.append('\n');
    if (chomping == 1)
        text.append(trailingBreaks, '\n');

    Token& token = addToken(Token::Kind::scalar, start);
    token.style = literal ? ScalarStyle::literal : ScalarStyle::folded;
    token.storage = std::move(text);
    token.text = token.storage;
    token.endMark = endMark;
}

void Scanner::decodeEscape(QByteArray& out)
{
    const qsizetype backslash = m_pos;
    ++m_pos;
    if (m_pos >= m_size)
        fail(QStringLiteral("unterminated escape in double-quoted string"), markAt(backslash));
    const char c = m_data[m_pos];
    int digits = 0;
    switch (c) {
    case '0':
        out.append('\0');
        break;
    case 'a':
        out.append('\a');
        break;
    case 'b':
        out.append('\b');
        break;
    case 't':
    case '\t':
        out.append('\t');
        break;
    case 'n':
        out.append('\n');
        break;
    case 'v':
        out.append('\v');
        break;
    case 'f':
        out.append('\f');
        break;
    case 'r':
        out.append('\r');
        break;
    case 'e':
        out.append('\x1B');
        break;
    case ' ':
    case '"':
    case '/':
    case '\\':
        out.append(c);
        break;
    case 'N':
        out.append("\xC2\x85");
        break;
    case '_':
        out.append("\xC2\xA0");
        break;
    case 'L':
        out.append("\xE2\x80\xA8");
        break;
    case 'P':
        out.append("\xE2\x80\xA9");
        break;
    case 'x':
        digits = 2;
        break;
    case 'u':
        digits = 4;
        break;
    case 'U':
        digits = 8;
        break;
    default:
        fail(QStringLiteral("invalid escape character '\\(%1)'").arg(characterAt(m_data, m_size, m_pos)),
             mark());
    }
    ++m_pos;
    if (digits == 0)
        return;
    char32_t code = 0;
    const qsizetype digitsStart = m_pos;
    for (int i = 0; i < digits; ++i, ++m_pos) {
        if (m_pos >= m_size || m_data[m_pos] == '"')
            fail(QStringLiteral("incomplete hex escape"), mark());
        if (!isHexDigit(m_data[m_pos]))
            fail(QStringLiteral("invalid hex character '%1' in escape")
                     .arg(characterAt(m_data, m_size, m_pos)),
                 mark());
        code = code * 16 + char32_t(hexValue(m_data[m_pos]));
    }
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        fail(QStringLiteral("invalid unicode escape '%1'")
                 .arg(QString::fromLatin1(m_data + digitsStart, m_pos - digitsStart)),
             markAt(backslash));
    utf8::append(out, code);
}

void Scanner::fetchQuotedScalar(bool single)
{
    saveSimpleKey();
    m_simpleKeyAllowed = false;
    const Mark start = mark();
    ++m_pos;
    const quint8 stop = single ? StopSingle : StopDouble;
    const char quote = single ? '\'' : '"';

    // Most quoted scalars are one line without escapes: their text is a slice of the input.
    qsizetype p = m_pos;
    while (p < m_size && !(classOf(m_data[p]) & stop))
        ++p;
    if (p < m_size && m_data[p] == quote && !(single && at(p + 1) == '\'')) {
        Token& token = addToken(Token::Kind::scalar, start);
        token.style = single ? ScalarStyle::singleQuoted : ScalarStyle::doubleQuoted;
        token.text = QByteArrayView(m_data + m_pos, p - m_pos);
        m_pos = p + 1;
        token.endMark = mark();
        m_adjacentValueAllowed = !m_flows.empty();
        return;
    }

    const QString unterminated = single ? QStringLiteral("unterminated single-quoted string")
                                        : QStringLiteral("unterminated double-quoted string");
    QByteArray text;
    for (;;) {
        if (atDocumentIndicator())
            fail(QStringLiteral("document marker inside a quoted scalar"), mark());
        if (m_pos >= m_size)
            fail(unterminated, start);
        bool leadingBlanks = false;
        bool closed = false;
        while (m_pos < m_size && !isBlankOrBreak(m_data[m_pos])) {
            const char c = m_data[m_pos];
            if (single && c == '\'') {
                if (at(m_pos + 1) == '\'') {
                    text.append('\'');
                    m_pos += 2;
                    continue;
                }
                closed = true;
                break;
            }
            if (!single && c == '"') {
                closed = true;
                break;
            }
            if (!single && c == '\\') {
                if (isBreak(at(m_pos + 1))) {
                    // An escaped line break joins the lines without a space.
                    ++m_pos;
                    consumeBreak();
                    leadingBlanks = true;
                    break;
                }
                decodeEscape(text);
                continue;
            }
            const qsizetype run = m_pos;
            while (m_pos < m_size && !(classOf(m_data[m_pos]) & (stop | Blank | Break)))
                ++m_pos;
            text.append(m_data + run, m_pos - run);
        }
        if (closed) {
            ++m_pos;
            break;
        }
        if (m_pos >= m_size)
            fail(unterminated, start);

        const qsizetype whitespaceStart = m_pos;
        qsizetype whitespaceEnd = m_pos;
        bool leadingBreak = false;
        int trailingBreaks = 0;
        qsizetype indentation = 0; // leading spaces of the current line
        while (m_pos < m_size && isBlankOrBreak(m_data[m_pos])) {
            if (isBlank(m_data[m_pos])) {
                if (m_data[m_pos] == ' ' && m_pos - m_lineStart == indentation)
                    ++indentation;
                ++m_pos;
                if (!leadingBlanks)
                    whitespaceEnd = m_pos;
            } else {
                consumeBreak();
                indentation = 0;
                if (leadingBlanks) {
                    ++trailingBreaks;
                } else {
                    leadingBlanks = true;
                    leadingBreak = true;
                }
            }
        }
        if (leadingBlanks && m_flows.empty() && m_pos < m_size && indentation <= m_indent)
            fail(QStringLiteral("continuation line of a quoted scalar is not indented enough"), mark());
        if (!leadingBlanks)
            text.append(m_data + whitespaceStart, whitespaceEnd - whitespaceStart);
        else if (leadingBreak && trailingBreaks == 0)
            text.append(' ');
        else
            text.append(trailingBreaks, '\n');
    }

    Token& token = addToken(Token::Kind::scalar, start);
    token.style = single ? ScalarStyle::singleQuoted : ScalarStyle::doubleQuoted;
    token.storage = std::move(text);
    token.text = token.storage;
    token.endMark = mark();
    m_adjacentValueAllowed = !m_flows.empty();
}

void Scanner::fetchPlainScalar()
{
    saveSimpleKey();
    m_simpleKeyAllowed = false;
    const Mark start = mark();
    Mark endMark = start;
    const int indent = m_indent + 1;
    const bool flow = !m_flows.empty();
    const quint8 stop = flow ? StopPlainFlow : StopPlainBlock;

    const qsizetype begin = m_pos;
    qsizetype end = m_pos;
    QByteArray text; // used once the text is no longer a slice of the input
    bool folded = false;
    bool leadingBlanks = false;
    int trailingBreaks = 0;
    qsizetype whitespaceStart = m_pos;

    for (;;) {
        if (atDocumentIndicator() || current() == '#')
            break;
        const qsizetype run = m_pos;
        for (;;) {
            while (m_pos < m_size && !(classOf(m_data[m_pos]) & stop))
                ++m_pos;
            if (m_pos < m_size && m_data[m_pos] == ':') {
                const char next = at(m_pos + 1);
                if (!(isBlankOrBreak(next) || next == '\0' || (flow && isFlowIndicator(next)))) {
                    ++m_pos;
                    continue;
                }
            }
            break;
        }
        if (m_pos == run)
            break;
        if (leadingBlanks) {
            if (!folded) {
                text = QByteArray(m_data + begin, end - begin);
                folded = true;
            }
            if (trailingBreaks == 0)
                text.append(' ');
            else
                text.append(trailingBreaks, '\n');
            text.append(m_data + run, m_pos - run);
            leadingBlanks = false;
            trailingBreaks = 0;
        } else if (folded) {
            text.append(m_data + whitespaceStart, m_pos - whitespaceStart);
        }
        end = m_pos;
        endMark = mark();

        if (m_pos >= m_size || !isBlankOrBreak(m_data[m_pos]))
            break;
        whitespaceStart = m_pos;
        qsizetype indentation = 0; // only spaces indent a continuation line
        while (m_pos < m_size && isBlankOrBreak(m_data[m_pos])) {
            if (isBlank(m_data[m_pos])) {
                if (m_data[m_pos] == ' ' && m_pos - m_lineStart == indentation)
                    ++indentation;
                ++m_pos;
            } else {
                consumeBreak();
                indentation = 0;
                if (leadingBlanks)
                    ++trailingBreaks;
                else
                    leadingBlanks = true;
            }
        }
        if (!flow && leadingBlanks && indentation < indent)
            break;
    }
    if (leadingBlanks) {
        // The scalar ended on an earlier line: scan this line's indentation again for the next token.
        m_pos = m_columnPos = m_lineStart;
        m_column = 1;
        m_simpleKeyAllowed = true;
    }

    Token& token = addToken(Token::Kind::scalar, start);
    if (folded) {
        token.storage = std::move(text);
        token.text = token.storage;
    } else {
        token.text = QByteArrayView(m_data + begin, end - begin);
    }
    token.endMark = endMark;
}

} // namespace tarnwick
