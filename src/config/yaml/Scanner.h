#pragma once

#include "Mark.h"
#include "Token.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <optional>
#include <vector>

namespace tarnwick {

// Turns a YAML text (UTF-8) into tokens that carry their source positions. It works on the bytes of the
// input and decodes only scalars whose text differs from their source (escapes, folding). Every failure
// is a YAMLError of the scanner kind.
class Scanner final
{
public:
    // The bytes are not copied: they must outlive the scanner and the tokens' texts.
    explicit Scanner(QByteArrayView utf8);

    // The next token; the first is streamStart, and after streamEnd every call returns streamEnd again.
    Token next();
    // The next token without consuming it; the reference holds until the token is consumed.
    const Token& peek();
    // Consumes the next token.
    void skip();

private:
    struct SimpleKey
    {
        bool possible = false;
        bool required = false;
        std::optional<Mark> tabMark; // a tab separated the key from what precedes it
        qsizetype tokenNumber = 0;
        Mark mark;
    };
    struct OpenFlow
    {
        bool mapping;
        Mark mark;
    };

    // Input and position.
    char at(qsizetype pos) const { return pos < m_size ? m_data[pos] : '\0'; }
    char current() const { return at(m_pos); }
    bool blankOrEndAt(qsizetype pos) const;
    Mark markAt(qsizetype pos);
    Mark mark() { return markAt(m_pos); }
    int column0() { return mark().column - 1; }
    void consumeBreak();
    bool atDocumentIndicator() const;
    [[noreturn]] void fail(const QString& message, const Mark& mark) const;
    [[noreturn]] void failAtOffset(const QString& message, qsizetype offset) const;
    void validateInput() const;
    bool hasByteOrderMark() const { return m_size >= 3 && QByteArrayView(m_data, 3) == "\xEF\xBB\xBF"; }

    // Token queue and simple keys.
    void fetchMoreTokens();
    void fetchNextToken();
    Token& addToken(Token::Kind kind, const Mark& mark);
    void staleSimpleKeys();
    void saveSimpleKey();
    void removeSimpleKey();
    void rollIndent(int column, qsizetype tokenNumber, Token::Kind kind, const Mark& mark);
    void unrollIndent(int column);
    void scanToNextToken();

    // Fetchers, one per kind of token.
    void fetchStreamStart();
    void fetchStreamEnd();
    void fetchDirective();
    void fetchDocumentIndicator(Token::Kind kind);
    void fetchFlowCollectionStart(bool mapping);
    void fetchFlowCollectionEnd(bool mapping);
    void fetchFlowEntry();
    void fetchBlockEntry();
    void fetchKey();
    void fetchValue();
    void fetchAnchor(bool alias);
    void fetchTag();
    void fetchBlockScalar(bool literal);
    void fetchQuotedScalar(bool single);
    void fetchPlainScalar();

    // Scanning helpers.
    QByteArray scanTagHandle();
    void resetDirectives();
    void skipLineEnd(const QString& what);
    void scanBlockScalarBreaks(int& indent, int& breaks, int& maxLeadingIndent, int minIndent);
    void decodeEscape(QByteArray& out);

    const char* m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
    int m_line = 1;
    qsizetype m_lineStart = 0;
    // Column cache for the current line: the column of byte m_columnPos.
    qsizetype m_columnPos = 0;
    int m_column = 1;

    // Tokens scanned but not handed out are m_tokenQueue[m_queueHead...]; the slots before the head are
    // spent and reused once the queue drains.
    std::vector<Token> m_tokenQueue;
    size_t m_queueHead = 0;
    qsizetype queued() const { return qsizetype(m_tokenQueue.size() - m_queueHead); }
    void insertToken(qsizetype tokenNumber, Token::Kind kind, const Mark& mark);
    qsizetype m_tokensParsed = 0;
    bool m_tokenAvailable = false; // the queue's front may be handed out
    bool m_streamStarted = false;
    bool m_streamEnded = false;
    bool m_documentStarted = false; // content or a start marker since the last end marker

    int m_indent = -1; // 0-based column of the innermost block collection
    std::vector<int> m_indents;
    std::vector<OpenFlow> m_flows; // flow level = size
    bool m_simpleKeyAllowed = false;
    std::vector<SimpleKey> m_simpleKeys; // one per flow level, and one for block context
    // In flow context a colon directly after a quoted scalar or a closed flow collection is a value
    // indicator even without a following blank.
    bool m_adjacentValueAllowed = false;
    // Block context: a tab separated the current token from what precedes it on its line. Tabs may
    // separate scalars and flow collections, but never open a block collection.
    bool m_tabBeforeToken = false;
    Mark m_tabMark;

    QHash<QByteArray, QByteArray> m_tagDirectives;
    QSet<QByteArray> m_declaredHandles; // declared by %TAG in the current document
    bool m_yamlDirectiveSeen = false;
    bool m_directivesPending = false; // directives read, document start marker not yet
};

} // namespace tarnwick
