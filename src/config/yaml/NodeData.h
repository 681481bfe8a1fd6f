#pragma once

#include "Node.h"

#include <atomic>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

// The shared representation behind Node. Internal to the YAML library.
namespace tarnwick::detail {

class Arena;

// A node either lives in an arena (the nodes of one parse) or on its own on the heap (built nodes, the
// empty scalar). Only heap nodes count their references; a handle on an arena node counts on the arena.
struct NodeData
{
    NodeData(Node::Type type, Arena* arena) : type(type), arena(arena) {}
    // Heap nodes only: an arena node is never destroyed, its memory goes with the arena.
    ~NodeData() { delete tag; }

    std::atomic<int> references{1}; // heap nodes only
    Node::Type type;
    ScalarStyle style = ScalarStyle::plain;
    bool hasMark = false;
    bool hasEndMark = false;
    Arena* arena; // null for a node allocated on its own
    Mark mark;
    QString* tag = nullptr; // when one was written (rare, so kept out of line)

    inline void setTag(const QString& text);
    QString tagText() const { return tag ? *tag : QString(); }

    // What a Node handle does when it is copied and when it is destroyed.
    static inline void retain(NodeData* data);
    static inline void release(NodeData* data);
    // Wraps data that already carries the caller's reference.
    static Node adopt(NodeData* data) { return Node(data); }
    static NodeData* of(const Node& node) { return node.m_data; }

protected:
    static inline void* allocate(Arena* arena, size_t bytes);

private:
    static void destroy(NodeData* data);
};

static_assert(std::is_trivially_destructible_v<Mark>, "arena nodes are freed without running destructors");

// The nodes of one parse live in one arena: allocating is a pointer bump, and the memory is returned all
// at once, without visiting a node, when the last handle on any of its nodes is gone (so one node kept
// from a document keeps the whole document's memory).
//
// Accounting. The count is the number of handles on the arena's nodes that will be destroyed one day (held
// by callers, by heap collections, by the parser while it composes), plus one for the creator. A handle
// moved into a collection of the same arena is interior: it is never destroyed and holds nothing, since
// its collection's memory cannot outlive the arena anyway. The parser never touches the count for a node
// it creates or adopts: it starts the arena at 1 + A (A above any number of nodes) and pays each created
// node's handle from A. Copies and destructions of handles meanwhile go through the count, so with C
// nodes created and I handles made interior
//     count       = 1 + A + copies - destroyed
//     outstanding = C + copies - destroyed - I
// and releasing A - C + I leaves exactly 1 + outstanding: the creator's reference plus one per handle.
class Arena final
{
public:
    static Arena* create(qint64 references) { return new Arena(references); }
    void retain() { m_references.fetch_add(1, std::memory_order_relaxed); }
    void release(qint64 count = 1)
    {
        if (m_references.fetch_sub(count, std::memory_order_acq_rel) == count)
            delete this;
    }
    void* allocate(size_t bytes);

    // For the creator only, while it builds. A tag in the arena's memory, destroyed with the arena.
    QString* keepTag(const QString& text);
    // A handle on `child` was moved into a collection of this arena and becomes interior.
    void adoptChild(NodeData* child)
    {
        if (child->arena == this)
            ++m_interior;
        else
            keepOther(child);
    }
    qint64 interiorHandles() const { return m_interior; }

private:
    explicit Arena(qint64 references) : m_references(references) {}
    ~Arena();
    void keepOther(NodeData* child);

    std::atomic<qint64> m_references;
    qint64 m_interior = 0;
    std::vector<char*> m_chunks;
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
    size_t m_nextChunkSize = 16 * 1024;
    std::vector<QString*> m_tags;
    // Interior handles on heap nodes or nodes of another arena: they keep their reference, released when
    // this arena goes.
    std::vector<NodeData*> m_others;
};

void NodeData::setTag(const QString& text)
{
    if (!text.isNull())
        tag = arena ? arena->keepTag(text) : new QString(text);
}

void NodeData::retain(NodeData* data)
{
    if (data->arena)
        data->arena->retain();
    else
        data->references.fetch_add(1, std::memory_order_relaxed);
}

void NodeData::release(NodeData* data)
{
    if (!data)
        return;
    if (data->arena)
        data->arena->release();
    else if (data->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        destroy(data);
}

void* NodeData::allocate(Arena* arena, size_t bytes)
{
    return arena ? arena->allocate(bytes) : ::operator new(bytes);
}

// A scalar keeps its UTF-8 text right behind the header, in the same allocation.
struct ScalarData final : NodeData
{
    Mark endMark;
    qsizetype size = 0;

    const char* text() const { return reinterpret_cast<const char*>(this + 1); }
    QByteArrayView utf8() const { return QByteArrayView(text(), size); }

    static ScalarData* create(QByteArrayView utf8, Arena* arena)
    {
        auto* data = new (allocate(arena, sizeof(ScalarData) + size_t(utf8.size()))) ScalarData(arena);
        data->size = utf8.size();
        if (!utf8.isEmpty())
            std::memcpy(reinterpret_cast<char*>(data + 1), utf8.data(), size_t(utf8.size()));
        return data;
    }

private:
    explicit ScalarData(Arena* arena) : NodeData(Node::Type::scalar, arena) {}
};

// Collections record their height and their size with aliases expanded, so that depth and expansion
// bounds are checked without walking the tree; `writtenSize` counts each alias as one node.
struct CollectionData : NodeData
{
    using NodeData::NodeData;
    int height = 1;
    qint64 expandedSize = 1;
    qint64 writtenSize = 1;
    qsizetype count = 0;

    void account(const Node& child, bool fromAlias);
};

template <typename Item, Node::Type kind> struct CollectionOf final : CollectionData
{
    Item* items = nullptr;

    std::span<const Item> view() const { return {items, size_t(count)}; }

    static CollectionOf* create(Arena* arena)
    {
        return new (allocate(arena, sizeof(CollectionOf))) CollectionOf(arena);
    }
    // Moves the children in, into storage of exactly their number.
    void adopt(std::span<Item> children)
    {
        if (children.empty())
            return;
        items = static_cast<Item*>(allocate(arena, sizeof(Item) * children.size()));
        count = qsizetype(children.size());
        for (size_t i = 0; i < children.size(); ++i) {
            new (items + i) Item(std::move(children[i]));
            if (arena)
                adoptInto(*arena, items[i]);
        }
    }

private:
    explicit CollectionOf(Arena* arena) : CollectionData(kind, arena) {}

    static void adoptInto(Arena& arena, const Node& node) { arena.adoptChild(of(node)); }
    static void adoptInto(Arena& arena, const Node::Pair& pair)
    {
        arena.adoptChild(of(pair.key));
        arena.adoptChild(of(pair.value));
    }
};

using SequenceData = CollectionOf<Node, Node::Type::sequence>;
using MappingData = CollectionOf<Node::Pair, Node::Type::mapping>;

} // namespace tarnwick::detail
