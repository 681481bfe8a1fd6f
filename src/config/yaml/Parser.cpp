#include "Parser.h"

#include "NodeData.h"
#include "Utf8.h"
#include "YAMLError.h"

namespace tarnwick {

using detail::CollectionData;
using detail::MappingData;
using detail::NodeData;
using detail::ScalarData;
using detail::SequenceData;

namespace {

template <typename Data>
Data* newCollection(detail::Arena* arena, qint64& created, const Mark& mark, const QString& tag)
{
    Data* data = Data::create(arena);
    ++created;
    data->hasMark = true;
    data->mark = mark;
    data->setTag(tag);
    return data;
}

// Moves the children of one collection, those above `start`, off the stack and into the collection.
template <typename Data, typename Item> void takeChildren(Data* data, std::vector<Item>& stack, size_t start)
{
    data->adopt(std::span<Item>(stack).subspan(start));
    stack.resize(start);
}

// References the parser holds on its arena instead of counting each node it creates and adopts: more than
// any input can produce, so that handles released while composing never bring the count to zero.
constexpr qint64 arenaAdvance = qint64(1) << 62;

} // namespace

Parser::Parser(QByteArrayView utf8, int maxDepth)
    : m_scanner(utf8), m_arena(detail::Arena::create(1 + arenaAdvance)), m_maxDepth(maxDepth)
{}

Parser::~Parser()
{
    // Nodes go before the arena reference that keeps their memory.
    m_anchors.clear();
    m_nodeStack.clear();
    m_pairStack.clear();
    // Settle the advance (see Arena) and drop the parser's own reference.
    m_arena->release(arenaAdvance - m_nodesCreated + m_arena->interiorHandles() + 1);
}

QList<Node> Parser::composeAll(QByteArrayView utf8, int maxDepth)
{
    Parser parser(utf8, maxDepth);
    QList<Node> documents;
    while (auto root = parser.nextDocument())
        documents.append(std::move(*root));
    return documents;
}

QList<Node> Parser::composeAll(QStringView yaml, int maxDepth)
{
    return composeAll(QByteArrayView(yaml.toUtf8()), maxDepth);
}

std::optional<Node> Parser::compose(QByteArrayView utf8, int maxDepth)
{
    return Parser(utf8, maxDepth).nextDocument();
}

std::optional<Node> Parser::compose(QStringView yaml, int maxDepth)
{
    return compose(QByteArrayView(yaml.toUtf8()), maxDepth);
}

void Parser::fail(const QString& message, const Mark& mark) const
{
    throw YAMLError::parser(message, mark);
}

void Parser::failExpected(const QString& expected, const Token& token) const
{
    if (token.kind == Token::Kind::streamEnd)
        throw YAMLError::unexpectedEndOfInput(token.mark);
    fail(QStringLiteral("expected %1 but got %2").arg(expected, token.description()), token.mark);
}

void Parser::enter(const Mark& mark)
{
    if (++m_currentDepth > m_maxDepth)
        throw YAMLError::depthLimitExceeded(mark);
}

std::optional<Node> Parser::nextDocument()
{
    if (!m_started) {
        const Token& first = peek();
        if (first.kind != Token::Kind::streamStart)
            fail(QStringLiteral("expected stream start"), first.mark);
        skip();
        m_started = true;
    }
    while (nextIs(Token::Kind::documentEnd))
        skip();
    if (nextIs(Token::Kind::streamEnd))
        return std::nullopt;

    m_anchors.clear();
    m_nodeStack.clear();
    m_pairStack.clear();
    m_currentDepth = 0;
    bool explicitStart = false;
    if (nextIs(Token::Kind::documentStart)) {
        skip();
        explicitStart = true;
    }
    const Token::Kind kind = peek().kind;
    Node root;
    if (!explicitStart || (kind != Token::Kind::documentStart && kind != Token::Kind::documentEnd &&
                           kind != Token::Kind::streamEnd))
        root = parseBlockNode(false);

    const Token& after = peek();
    if (after.kind != Token::Kind::documentEnd && after.kind != Token::Kind::documentStart &&
        after.kind != Token::Kind::streamEnd)
        failExpected(Token::describe(Token::Kind::documentStart), after);
    return root;
}

Parser::Properties Parser::parseProperties(bool flow)
{
    Properties properties;
    for (;;) {
        const Token& token = peek();
        if (token.kind == Token::Kind::anchor && !properties.hasAnchor) {
            properties.hasAnchor = true;
            properties.anchor = token.text;
        } else if (token.kind == Token::Kind::tag && properties.tag.isNull()) {
            properties.tag = QString::fromUtf8(token.text);
        } else if (token.kind == Token::Kind::anchor || token.kind == Token::Kind::tag) {
            fail(
                (flow ? QStringLiteral("unexpected token in flow: ") : QStringLiteral("unexpected token: ")) +
                    token.description(),
                token.mark);
        } else {
            return properties;
        }
        skip();
    }
}

Node Parser::parseAlias()
{
    const Token& token = peek();
    const auto found = m_anchors.find(std::string_view(token.text.data(), size_t(token.text.size())));
    if (found == m_anchors.end())
        fail(QStringLiteral("undefined alias '*%1'").arg(utf8::toString(token.text)), token.mark);
    // The alias stands where its node would: its expansion must fit in the remaining depth too.
    if (m_currentDepth + found->second.height() > m_maxDepth)
        throw YAMLError::depthLimitExceeded(token.mark);
    m_lastWasAlias = true;
    skip();
    return found->second;
}

Node Parser::finish(Node node, const Properties& properties)
{
    if (properties.hasAnchor)
        m_anchors.insert_or_assign(std::string(properties.anchor.data(), size_t(properties.anchor.size())),
                                   node);
    m_lastWasAlias = false;
    return node;
}

Node Parser::emptyNode(const Properties& properties)
{
    if (properties.empty()) {
        m_lastWasAlias = false;
        return Node();
    }
    ScalarData* data = ScalarData::create(QByteArrayView(), m_arena);
    ++m_nodesCreated;
    data->setTag(properties.tag);
    return finish(NodeData::adopt(data), properties);
}

Node Parser::propertiesOnly(const Properties& properties, const Token& token, const QString& unexpected)
{
    if (!properties.empty())
        return emptyNode(properties);
    if (token.kind == Token::Kind::streamEnd)
        throw YAMLError::unexpectedEndOfInput(token.mark);
    fail(unexpected + token.description(), token.mark);
}

Node Parser::parseScalar(const Properties& properties)
{
    const Token& token = peek();
    ScalarData* data = ScalarData::create(token.text, m_arena);
    ++m_nodesCreated;
    data->style = token.style;
    data->setTag(properties.tag);
    data->hasMark = data->hasEndMark = true;
    data->mark = token.mark;
    data->endMark = token.endMark;
    skip();
    return finish(NodeData::adopt(data), properties);
}

Node Parser::parseBlockNode(bool indentlessSequenceAllowed)
{
    if (nextIs(Token::Kind::alias))
        return parseAlias();
    const Properties properties = parseProperties(false);
    const Token& token = peek();
    switch (token.kind) {
    case Token::Kind::scalar:
        return parseScalar(properties);
    case Token::Kind::blockSequenceStart:
        return parseBlockSequence(properties);
    case Token::Kind::blockMappingStart:
        return parseBlockMapping(properties);
    case Token::Kind::flowSequenceStart:
        return parseFlowSequence(properties);
    case Token::Kind::flowMappingStart:
        return parseFlowMapping(properties);
    case Token::Kind::blockEntry:
        if (indentlessSequenceAllowed)
            return parseIndentlessSequence(properties);
        break;
    default:
        break;
    }
    return propertiesOnly(properties, token, QStringLiteral("unexpected token: "));
}

Node Parser::parseFlowNode()
{
    if (nextIs(Token::Kind::alias))
        return parseAlias();
    const Properties properties = parseProperties(true);
    const Token& token = peek();
    switch (token.kind) {
    case Token::Kind::scalar:
        return parseScalar(properties);
    case Token::Kind::flowSequenceStart:
        return parseFlowSequence(properties);
    case Token::Kind::flowMappingStart:
        return parseFlowMapping(properties);
    default:
        break;
    }
    return propertiesOnly(properties, token, QStringLiteral("unexpected token in flow: "));
}

Node Parser::parseBlockSequence(const Properties& properties)
{
    const Mark start = peek().mark;
    skip();
    enter(start);
    auto* data = newCollection<SequenceData>(m_arena, m_nodesCreated, start, properties.tag);
    Node node = NodeData::adopt(data);
    const size_t stackStart = m_nodeStack.size();
    for (;;) {
        const Token& token = peek();
        if (token.kind == Token::Kind::blockEnd) {
            skip();
            break;
        }
        if (token.kind != Token::Kind::blockEntry)
            failExpected(QStringLiteral("the end of a block sequence"), token);
        skip();
        const Token::Kind kind = peek().kind;
        Node child = kind == Token::Kind::blockEntry || kind == Token::Kind::blockEnd ? emptyNode({})
                                                                                      : parseBlockNode(false);
        data->account(child, m_lastWasAlias);
        m_nodeStack.push_back(std::move(child));
    }
    takeChildren(data, m_nodeStack, stackStart);
    leave();
    return finish(std::move(node), properties);
}

Node Parser::parseIndentlessSequence(const Properties& properties)
{
    const Mark mark = peek().mark;
    enter(mark);
    auto* data = newCollection<SequenceData>(m_arena, m_nodesCreated, mark, properties.tag);
    Node node = NodeData::adopt(data);
    const size_t stackStart = m_nodeStack.size();
    while (nextIs(Token::Kind::blockEntry)) {
        skip();
        const Token::Kind kind = peek().kind;
        Node child = kind == Token::Kind::blockEntry || kind == Token::Kind::key ||
                             kind == Token::Kind::value || kind == Token::Kind::blockEnd
                         ? emptyNode({})
                         : parseBlockNode(false);
        data->account(child, m_lastWasAlias);
        m_nodeStack.push_back(std::move(child));
    }
    takeChildren(data, m_nodeStack, stackStart);
    leave();
    return finish(std::move(node), properties);
}

Node Parser::parseBlockMapping(const Properties& properties)
{
    const Mark start = peek().mark;
    skip();
    enter(start);
    auto* data = newCollection<MappingData>(m_arena, m_nodesCreated, start, properties.tag);
    Node node = NodeData::adopt(data);
    const size_t stackStart = m_pairStack.size();
    const auto blockValue = [this] {
        const Token::Kind kind = peek().kind;
        if (kind == Token::Kind::key || kind == Token::Kind::value || kind == Token::Kind::blockEnd)
            return emptyNode({});
        return parseBlockNode(true);
    };
    for (;;) {
        const Token& token = peek();
        if (token.kind == Token::Kind::blockEnd) {
            skip();
            break;
        }
        // Keys and values are built in place: a default node assigned over later costs a shared count.
        const bool explicitKey = token.kind == Token::Kind::key;
        if (!explicitKey && token.kind != Token::Kind::value)
            failExpected(QStringLiteral("the end of a block mapping"), token);
        if (explicitKey)
            skip();
        // A value where a key was expected: the key is empty.
        Node key = explicitKey ? blockValue() : emptyNode({});
        data->account(key, m_lastWasAlias);
        const bool hasValue = nextIs(Token::Kind::value);
        if (hasValue)
            skip();
        Node value = hasValue ? blockValue() : emptyNode({});
        data->account(value, m_lastWasAlias);
        m_pairStack.push_back(Node::Pair{std::move(key), std::move(value)});
    }
    takeChildren(data, m_pairStack, stackStart);
    leave();
    return finish(std::move(node), properties);
}

Node Parser::parseFlowSequence(const Properties& properties)
{
    const Mark start = peek().mark;
    skip();
    enter(start);
    auto* data = newCollection<SequenceData>(m_arena, m_nodesCreated, start, properties.tag);
    Node node = NodeData::adopt(data);
    const size_t stackStart = m_nodeStack.size();
    for (bool first = true;; first = false) {
        if (nextIs(Token::Kind::flowSequenceEnd)) {
            skip();
            break;
        }
        if (!first) {
            if (!nextIs(Token::Kind::flowEntry))
                fail(QStringLiteral("unexpected token in flow: ") + peek().description(), peek().mark);
            skip();
            if (nextIs(Token::Kind::flowSequenceEnd)) {
                skip();
                break;
            }
        }
        const Token& token = peek();
        Node child = token.kind == Token::Kind::key || token.kind == Token::Kind::value
                         ? parseFlowPair(token.mark)
                         : parseFlowNode();
        data->account(child, m_lastWasAlias);
        m_nodeStack.push_back(std::move(child));
    }
    takeChildren(data, m_nodeStack, stackStart);
    leave();
    return finish(std::move(node), properties);
}

// A single "key: value" pair inside a flow sequence is a mapping of its own.
Node Parser::parseFlowPair(const Mark& mark)
{
    enter(mark);
    auto* data = newCollection<MappingData>(m_arena, m_nodesCreated, mark, QString());
    Node node = NodeData::adopt(data);
    const auto flowValue = [this] {
        const Token::Kind kind = peek().kind;
        if (kind == Token::Kind::value || kind == Token::Kind::flowEntry ||
            kind == Token::Kind::flowSequenceEnd)
            return emptyNode({});
        return parseFlowNode();
    };
    const bool explicitKey = nextIs(Token::Kind::key);
    if (explicitKey)
        skip();
    Node key = explicitKey ? flowValue() : emptyNode({});
    data->account(key, m_lastWasAlias);
    const bool hasValue = nextIs(Token::Kind::value);
    if (hasValue)
        skip();
    Node value = hasValue ? flowValue() : emptyNode({});
    data->account(value, m_lastWasAlias);
    Node::Pair pair{std::move(key), std::move(value)};
    data->adopt(std::span<Node::Pair>(&pair, 1));
    leave();
    m_lastWasAlias = false;
    return node;
}

Node Parser::parseFlowMapping(const Properties& properties)
{
    const Mark start = peek().mark;
    skip();
    enter(start);
    auto* data = newCollection<MappingData>(m_arena, m_nodesCreated, start, properties.tag);
    Node node = NodeData::adopt(data);
    const size_t stackStart = m_pairStack.size();
    const auto flowValue = [this] {
        const Token::Kind kind = peek().kind;
        if (kind == Token::Kind::value || kind == Token::Kind::flowEntry ||
            kind == Token::Kind::flowMappingEnd)
            return emptyNode({});
        return parseFlowNode();
    };
    for (bool first = true;; first = false) {
        if (nextIs(Token::Kind::flowMappingEnd)) {
            skip();
            break;
        }
        if (!first) {
            if (!nextIs(Token::Kind::flowEntry))
                fail(QStringLiteral("unexpected token in flow: ") + peek().description(), peek().mark);
            skip();
            if (nextIs(Token::Kind::flowMappingEnd)) {
                skip();
                break;
            }
        }
        const bool explicitKey = nextIs(Token::Kind::key);
        if (explicitKey)
            skip();
        Node key = explicitKey ? flowValue() : nextIs(Token::Kind::value) ? emptyNode({}) : parseFlowNode();
        data->account(key, m_lastWasAlias);
        const bool hasValue = nextIs(Token::Kind::value);
        if (hasValue)
            skip();
        Node value = hasValue ? flowValue() : emptyNode({});
        data->account(value, m_lastWasAlias);
        m_pairStack.push_back(Node::Pair{std::move(key), std::move(value)});
    }
    takeChildren(data, m_pairStack, stackStart);
    leave();
    return finish(std::move(node), properties);
}

} // namespace tarnwick
