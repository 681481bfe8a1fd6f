#pragma once

#include "Node.h"
#include "Scanner.h"

#include <QByteArrayView>
#include <QList>
#include <QStringView>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnwick {

namespace detail {
class Arena;
}

// Composes the node tree of YAML documents from the scanner's tokens. Nesting deeper than the limit fails
// with depthLimitExceeded; no recursion goes deeper than the limit. Every failure is a YAMLError and
// nothing partial is returned.
class Parser final
{
public:
    static constexpr int defaultMaxDepth = 512;

    // The bytes are not copied: they must outlive the parser (nodes keep copies of their texts).
    explicit Parser(QByteArrayView utf8, int maxDepth = defaultMaxDepth);
    ~Parser();
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // The root of the next document, or nothing at the end of the stream.
    std::optional<Node> nextDocument();

    // One root per document, in order.
    static QList<Node> composeAll(QByteArrayView utf8, int maxDepth = defaultMaxDepth);
    static QList<Node> composeAll(QStringView yaml, int maxDepth = defaultMaxDepth);
    // The root of the first document, or nothing when the text holds no document (empty, or only comments
    // and blank lines).
    static std::optional<Node> compose(QByteArrayView utf8, int maxDepth = defaultMaxDepth);
    static std::optional<Node> compose(QStringView yaml, int maxDepth = defaultMaxDepth);

private:
    struct Properties
    {
        bool hasAnchor = false;
        QByteArrayView anchor;
        QString tag;
        bool empty() const { return !hasAnchor && tag.isNull(); }
    };

    const Token& peek() { return m_scanner.peek(); }
    void skip() { m_scanner.skip(); }
    bool nextIs(Token::Kind kind) { return peek().kind == kind; }
    [[noreturn]] void fail(const QString& message, const Mark& mark) const;
    [[noreturn]] void failExpected(const QString& expected, const Token& token) const;

    Properties parseProperties(bool flow);
    Node parseBlockNode(bool indentlessSequenceAllowed);
    Node parseFlowNode();
    Node parseAlias();
    Node parseScalar(const Properties& properties);
    Node parseBlockSequence(const Properties& properties);
    Node parseIndentlessSequence(const Properties& properties);
    Node parseBlockMapping(const Properties& properties);
    Node parseFlowSequence(const Properties& properties);
    Node parseFlowMapping(const Properties& properties);
    Node parseFlowPair(const Mark& mark);
    Node emptyNode(const Properties& properties);
    // Where no node starts: an anchor or tag alone stands for an empty node; anything else is an error.
    Node propertiesOnly(const Properties& properties, const Token& token, const QString& unexpected);
    Node finish(Node node, const Properties& properties);
    void enter(const Mark& mark);
    void leave() { --m_currentDepth; }

    Scanner m_scanner;
    detail::Arena* m_arena;
    qint64 m_nodesCreated = 0; // in the arena
    struct NameHash
    {
        using is_transparent = void;
        size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
    };
    std::unordered_map<std::string, Node, NameHash, std::equal_to<>> m_anchors;
    // Children of the collections being composed, innermost last; each collection takes its own when done.
    std::vector<Node> m_nodeStack;
    std::vector<Node::Pair> m_pairStack;
    int m_maxDepth;
    int m_currentDepth = 0;
    bool m_started = false;
    // Whether the node just composed was an alias (counted once in a collection's written size).
    bool m_lastWasAlias = false;
};

} // namespace tarnwick
