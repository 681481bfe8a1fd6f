#pragma once

#include "Node.h"

#include <atomic>
#include <cstring>
#include <span>
#include <vector>

// The shared representation behind Node. Internal to the YAML library.
namespace tarnwick::detail {

// The nodes of one parse live in one arena: allocating is a pointer bump, and the memory is returned all
// at once when the last node of the arena dies (so one node kept from a document keeps the document's
// memory).
class Arena final
{
public:
    // One reference per live node, and one for the creator. The parser does not count the nodes it
    // creates one by one: it holds a large advance instead and settles it when done (see Parser).
    static Arena* create(qint64 references) { return new Arena(references); }
    void release(qint64 count = 1)
    {
        if (m_references.fetch_sub(count, std::memory_order_acq_rel) == count)
            delete this;
    }
    void* allocate(size_t bytes);

private:
    explicit Arena(qint64 references) : m_references(references) {}
    ~Arena();

    std::atomic<qint64> m_references;
    std::vector<char*> m_chunks;
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
    size_t m_nextChunkSize = 16 * 1024;
};

struct NodeData
{
    NodeData(Node::Type type, Arena* arena) : type(type), arena(arena) {}
    ~NodeData() { delete tag; }

    std::atomic<int> references{1};
    Node::Type type;
    ScalarStyle style = ScalarStyle::plain;
    bool hasMark = false;
    bool hasEndMark = false;
    Arena* arena; // null for a node allocated on its own
    Mark mark;
    QString* tag = nullptr; // when one was written (rare, so kept out of line)

    void setTag(const QString& text)
    {
        if (!text.isNull())
            tag = new QString(text);
    }
    QString tagText() const { return tag ? *tag : QString(); }

    void retain() { references.fetch_add(1, std::memory_order_relaxed); }
    static void release(NodeData* data);
    // Wraps data that already carries the caller's reference.
    static Node adopt(NodeData* data) { return Node(data); }
    static NodeData* of(const Node& node) { return node.m_data; }

protected:
    static void* allocate(Arena* arena, size_t bytes)
    {
        return arena ? arena->allocate(bytes) : ::operator new(bytes);
    }
};

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
        count = qsizetype(children.size());
        if (children.empty())
            return;
        items = static_cast<Item*>(allocate(arena, sizeof(Item) * children.size()));
        for (size_t i = 0; i < children.size(); ++i)
            new (items + i) Item(std::move(children[i]));
    }

private:
    explicit CollectionOf(Arena* arena) : CollectionData(kind, arena) {}
};

using SequenceData = CollectionOf<Node, Node::Type::sequence>;
using MappingData = CollectionOf<Node::Pair, Node::Type::mapping>;

} // namespace tarnwick::detail
