#pragma once

#include "Node.h"

#include <atomic>
#include <cstring>

// The shared representation behind Node. Internal to the YAML library.
namespace tarnwick::detail {

struct NodeData
{
    explicit NodeData(Node::Type type) : type(type) {}

    std::atomic<int> references{1};
    Node::Type type;
    ScalarStyle style = ScalarStyle::plain;
    bool hasMark = false;
    bool hasEndMark = false;
    Mark mark;
    QString tag; // null when none was written

    void retain() { references.fetch_add(1, std::memory_order_relaxed); }
    static void release(NodeData* data);
    // Wraps data that already carries the caller's reference.
    static Node adopt(NodeData* data) { return Node(data); }
    static NodeData* of(const Node& node) { return node.m_data; }
};

// A scalar keeps its UTF-8 text right behind the header, in the same allocation.
struct ScalarData final : NodeData
{
    ScalarData() : NodeData(Node::Type::scalar) {}
    Mark endMark;
    qsizetype size = 0;

    const char* text() const { return reinterpret_cast<const char*>(this + 1); }
    QByteArrayView utf8() const { return QByteArrayView(text(), size); }

    static ScalarData* create(QByteArrayView utf8)
    {
        void* memory = ::operator new(sizeof(ScalarData) + size_t(utf8.size()));
        auto* data = new (memory) ScalarData();
        data->size = utf8.size();
        if (!utf8.isEmpty())
            std::memcpy(reinterpret_cast<char*>(data + 1), utf8.data(), size_t(utf8.size()));
        return data;
    }
};

// Collections record their height and their size with aliases expanded, so that depth and expansion
// bounds are checked without walking the tree; `writtenSize` counts each alias as one node.
struct CollectionData : NodeData
{
    using NodeData::NodeData;
    int height = 1;
    qint64 expandedSize = 1;
    qint64 writtenSize = 1;

    void account(const Node& child, bool fromAlias);
};

struct SequenceData final : CollectionData
{
    SequenceData() : CollectionData(Node::Type::sequence) {}
    std::vector<Node> nodes;
};

struct MappingData final : CollectionData
{
    MappingData() : CollectionData(Node::Type::mapping) {}
    std::vector<Node::Pair> pairs;
};

} // namespace tarnwick::detail
