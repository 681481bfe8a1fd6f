#pragma once

#include "Mark.h"
#include "NativeValue.h"
#include "Token.h"

#include <QByteArrayView>
#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace tarnwick {

namespace detail {
struct NodeData;
}

// One node of a composed YAML document: a scalar, a mapping or a sequence, with its source marks.
// Nodes are immutable and shared: copying a node (and resolving an alias) shares its data, so a copy
// costs a reference count and aliases never duplicate a subtree.
class Node final
{
public:
    enum class Type : quint8
    {
        scalar,
        mapping,
        sequence
    };
    class Scalar;
    class Mapping;
    class Sequence;
    struct Pair;

    // An empty plain scalar (which converts to null), without marks.
    Node();
    Node(const Node& other) noexcept;
    Node(Node&& other) noexcept : m_data(other.m_data) { other.m_data = nullptr; }
    Node& operator=(const Node& other) noexcept;
    Node& operator=(Node&& other) noexcept;
    // Inline, so that the many moved-from handles of a parse are dropped without a call.
    ~Node()
    {
        if (m_data)
            releaseData();
    }

    static Node makeScalar(QByteArrayView utf8, ScalarStyle style = ScalarStyle::plain,
                           const std::optional<QString>& tag = {}, const std::optional<Mark>& mark = {},
                           const std::optional<Mark>& endMark = {});
    static Node makeScalar(const QString& text, ScalarStyle style = ScalarStyle::plain,
                           const std::optional<QString>& tag = {}, const std::optional<Mark>& mark = {},
                           const std::optional<Mark>& endMark = {});
    static Node makeSequence(std::vector<Node> nodes, const std::optional<QString>& tag = {},
                             const std::optional<Mark>& mark = {});
    static Node makeMapping(std::vector<Pair> pairs, const std::optional<QString>& tag = {},
                            const std::optional<Mark>& mark = {});

    Type type() const;
    bool isScalar() const { return type() == Type::scalar; }
    bool isMapping() const { return type() == Type::mapping; }
    bool isSequence() const { return type() == Type::sequence; }

    // Where the node starts in the source; absent for nodes that were not read from a text (such as the
    // empty value after a key).
    std::optional<Mark> mark() const;
    // The resolved tag, when one was written.
    std::optional<QString> tag() const;

    std::optional<Scalar> scalar() const;
    std::optional<Mapping> mapping() const;
    std::optional<Sequence> sequence() const;

    // Plain values: a mapping root converts to a dictionary, a sequence root to an array (absent for a node
    // of the other kind); see NativeConversion.cpp for the rules. A document whose aliases would expand
    // beyond a generous bound throws YAMLError (expansionLimitExceeded) instead of exhausting memory; a
    // scalar whose text does not fit its core-schema tag (`!!int abc`) throws YAMLError (conversion).
    std::optional<NativeValue::Dictionary> toNativeDictionary() const;
    std::optional<NativeValue::Array> toNativeArray() const;
    // Any node: scalars resolve to null, booleans, numbers or text.
    NativeValue toNative() const;

    // Structural: texts, styles, tags, marks and children.
    bool operator==(const Node& other) const;

    // Nesting depth (a scalar has 0), and the number of nodes with aliases expanded.
    int height() const;
    qint64 expandedSize() const;

private:
    friend class Parser;
    friend struct detail::NodeData;
    explicit Node(detail::NodeData* data) : m_data(data) {}
    void releaseData() noexcept;

    detail::NodeData* m_data;
};

struct Node::Pair
{
    Node key;
    Node value;
    bool operator==(const Pair& other) const = default;
};

class Node::Scalar final
{
public:
    // The decoded text.
    QString string() const;
    QByteArrayView utf8() const;
    // The first character of the source form, and just past its last (quotes included).
    std::optional<Mark> mark() const;
    std::optional<Mark> endMark() const;
    ScalarStyle style() const;
    std::optional<QString> tag() const;

private:
    friend class Node;
    explicit Scalar(Node node) : m_node(std::move(node)) {}
    Node m_node;
};

class Node::Mapping final
{
public:
    std::span<const Pair> pairs() const;
    qsizetype count() const { return qsizetype(pairs().size()); }
    bool isEmpty() const { return pairs().empty(); }
    std::optional<Pair> first() const;
    const Pair& operator[](qsizetype index) const { return pairs()[size_t(index)]; }
    auto begin() const { return pairs().begin(); }
    auto end() const { return pairs().end(); }
    // The value of the first pair whose key is a scalar with this text.
    std::optional<Node> value(QStringView key) const;
    std::optional<Mark> mark() const { return m_node.mark(); }
    std::optional<QString> tag() const { return m_node.tag(); }

private:
    friend class Node;
    explicit Mapping(Node node) : m_node(std::move(node)) {}
    Node m_node;
};

class Node::Sequence final
{
public:
    std::span<const Node> nodes() const;
    qsizetype count() const { return qsizetype(nodes().size()); }
    bool isEmpty() const { return nodes().empty(); }
    const Node& operator[](qsizetype index) const { return nodes()[size_t(index)]; }
    auto begin() const { return nodes().begin(); }
    auto end() const { return nodes().end(); }
    std::optional<Mark> mark() const { return m_node.mark(); }
    std::optional<QString> tag() const { return m_node.tag(); }

private:
    friend class Node;
    explicit Sequence(Node node) : m_node(std::move(node)) {}
    Node m_node;
};

size_t qHash(const Node& node, size_t seed = 0);

} // namespace tarnwick
