#include "Node.h"

#include "NodeData.h"
#include "Utf8.h"

#include <algorithm>
#include <memory>

namespace tarnwick {

namespace detail {

namespace {

// The empty plain scalar of default-constructed nodes; its extra reference keeps it alive forever.
NodeData* emptyScalar()
{
    static NodeData* const data = [] {
        NodeData* created = ScalarData::create(QByteArrayView(), nullptr);
        NodeData::retain(created);
        return created;
    }();
    return data;
}

template <typename Data> void destroyHeap(Data* data)
{
    if constexpr (!std::is_same_v<Data, ScalarData>) {
        std::destroy_n(data->items, data->count);
        ::operator delete(data->items);
    }
    data->~Data();
    ::operator delete(data);
}

} // namespace

Arena::~Arena()
{
    for (NodeData* other : m_others)
        NodeData::release(other);
    for (QString* tag : m_tags)
        std::destroy_at(tag);
    for (char* chunk : m_chunks)
        ::operator delete(chunk);
}

void* Arena::allocate(size_t bytes)
{
    bytes = (bytes + alignof(qint64) - 1) & ~(alignof(qint64) - 1);
    if (size_t(m_limit - m_cursor) < bytes) {
        // Chunks grow with the document, up to 1 MiB; an item larger than that gets a chunk of its own.
        const size_t size = std::max(bytes, m_nextChunkSize);
        m_nextChunkSize = std::min<size_t>(m_nextChunkSize * 2, 1024 * 1024);
        m_chunks.push_back(static_cast<char*>(::operator new(size)));
        m_cursor = m_chunks.back();
        m_limit = m_cursor + size;
    }
    void* memory = m_cursor;
    m_cursor += bytes;
    return memory;
}

QString* Arena::keepTag(const QString& text)
{
    void* memory = allocate(sizeof(QString));
    m_tags.push_back(static_cast<QString*>(memory)); // before constructing: the copy cannot fail
    return new (memory) QString(text);
}

void Arena::keepOther(NodeData* child)
{
    // The empty scalar never dies: no need to hold on to it.
    if (child == emptyScalar())
        NodeData::release(child);
    else
        m_others.push_back(child);
}

void NodeData::destroy(NodeData* data)
{
    switch (data->type) {
    case Node::Type::scalar:
        destroyHeap(static_cast<ScalarData*>(data));
        break;
    case Node::Type::sequence:
        destroyHeap(static_cast<SequenceData*>(data));
        break;
    case Node::Type::mapping:
        destroyHeap(static_cast<MappingData*>(data));
        break;
    }
}

void CollectionData::account(const Node& child, bool fromAlias)
{
    // Sizes saturate far above any bound they are checked against.
    constexpr qint64 saturation = qint64(1) << 60;
    height = std::max(height, child.height() + 1);
    expandedSize = std::min(saturation, expandedSize + child.expandedSize());
    if (fromAlias) {
        ++writtenSize;
    } else if (child.isScalar()) {
        ++writtenSize;
    } else {
        writtenSize =
            std::min(saturation, writtenSize + static_cast<const CollectionData*>(of(child))->writtenSize);
    }
}

} // namespace detail

using detail::CollectionData;
using detail::emptyScalar;
using detail::MappingData;
using detail::NodeData;
using detail::ScalarData;
using detail::SequenceData;

namespace {

void setMarkAndTag(NodeData* data, const std::optional<QString>& tag, const std::optional<Mark>& mark)
{
    if (tag)
        data->setTag(*tag);
    if (mark) {
        data->hasMark = true;
        data->mark = *mark;
    }
}

} // namespace

Node::Node() : m_data(emptyScalar())
{
    NodeData::retain(m_data);
}

Node::Node(const Node& other) noexcept : m_data(other.m_data)
{
    if (m_data)
        NodeData::retain(m_data);
}

Node& Node::operator=(const Node& other) noexcept
{
    if (other.m_data)
        NodeData::retain(other.m_data);
    NodeData::release(m_data);
    m_data = other.m_data;
    return *this;
}

Node& Node::operator=(Node&& other) noexcept
{
    if (this != &other) {
        NodeData::release(m_data);
        m_data = other.m_data;
        other.m_data = nullptr;
    }
    return *this;
}

void Node::releaseData() noexcept
{
    NodeData::release(m_data);
}

Node Node::makeScalar(QByteArrayView utf8, ScalarStyle style, const std::optional<QString>& tag,
                      const std::optional<Mark>& mark, const std::optional<Mark>& endMark)
{
    ScalarData* data = ScalarData::create(utf8, nullptr);
    data->style = style;
    setMarkAndTag(data, tag, mark);
    if (endMark) {
        data->hasEndMark = true;
        data->endMark = *endMark;
    }
    return Node(data);
}

Node Node::makeScalar(const QString& text, ScalarStyle style, const std::optional<QString>& tag,
                      const std::optional<Mark>& mark, const std::optional<Mark>& endMark)
{
    return makeScalar(QByteArrayView(text.toUtf8()), style, tag, mark, endMark);
}

Node Node::makeSequence(std::vector<Node> nodes, const std::optional<QString>& tag,
                        const std::optional<Mark>& mark)
{
    SequenceData* data = SequenceData::create(nullptr);
    setMarkAndTag(data, tag, mark);
    for (const Node& node : nodes)
        data->account(node, false);
    data->adopt(nodes);
    return Node(data);
}

Node Node::makeMapping(std::vector<Pair> pairs, const std::optional<QString>& tag,
                       const std::optional<Mark>& mark)
{
    MappingData* data = MappingData::create(nullptr);
    setMarkAndTag(data, tag, mark);
    for (const Pair& pair : pairs) {
        data->account(pair.key, false);
        data->account(pair.value, false);
    }
    data->adopt(pairs);
    return Node(data);
}

Node::Type Node::type() const
{
    return m_data->type;
}

std::optional<Mark> Node::mark() const
{
    return m_data->hasMark ? std::optional<Mark>(m_data->mark) : std::nullopt;
}

std::optional<QString> Node::tag() const
{
    return m_data->tag ? std::optional<QString>(*m_data->tag) : std::nullopt;
}

std::optional<Node::Scalar> Node::scalar() const
{
    return isScalar() ? std::optional<Scalar>(Scalar(*this)) : std::nullopt;
}

std::optional<Node::Mapping> Node::mapping() const
{
    return isMapping() ? std::optional<Mapping>(Mapping(*this)) : std::nullopt;
}

std::optional<Node::Sequence> Node::sequence() const
{
    return isSequence() ? std::optional<Sequence>(Sequence(*this)) : std::nullopt;
}

int Node::height() const
{
    return isScalar() ? 0 : static_cast<const CollectionData*>(m_data)->height;
}

qint64 Node::expandedSize() const
{
    return isScalar() ? 1 : static_cast<const CollectionData*>(m_data)->expandedSize;
}

bool Node::operator==(const Node& other) const
{
    const NodeData* a = m_data;
    const NodeData* b = other.m_data;
    if (a == b)
        return true;
    if (a->type != b->type || a->hasMark != b->hasMark || (a->hasMark && a->mark != b->mark) ||
        a->tagText() != b->tagText())
        return false;
    switch (a->type) {
    case Type::scalar: {
        const auto* x = static_cast<const ScalarData*>(a);
        const auto* y = static_cast<const ScalarData*>(b);
        return x->style == y->style && x->utf8() == y->utf8() && x->hasEndMark == y->hasEndMark &&
               (!x->hasEndMark || x->endMark == y->endMark);
    }
    case Type::sequence:
        return std::ranges::equal(static_cast<const SequenceData*>(a)->view(),
                                  static_cast<const SequenceData*>(b)->view());
    case Type::mapping:
        return std::ranges::equal(static_cast<const MappingData*>(a)->view(),
                                  static_cast<const MappingData*>(b)->view());
    }
    return false;
}

size_t qHash(const Node& node, size_t seed)
{
    // Shallow, so that hashing stays cheap on alias-heavy trees; equal nodes still hash equally.
    seed = qHashMulti(seed, int(node.type()), node.tag().value_or(QString()));
    if (const auto mark = node.mark())
        seed = qHash(*mark, seed);
    if (const auto scalar = node.scalar())
        return qHash(scalar->utf8(), seed);
    if (const auto sequence = node.sequence())
        return qHashMulti(seed, sequence->count());
    return qHashMulti(seed, node.mapping()->count());
}

// Views ------------------------------------------------------------------------------------------------

QString Node::Scalar::string() const
{
    return utf8::toString(utf8());
}

QByteArrayView Node::Scalar::utf8() const
{
    return static_cast<const ScalarData*>(NodeData::of(m_node))->utf8();
}

std::optional<Mark> Node::Scalar::mark() const
{
    return m_node.mark();
}

std::optional<Mark> Node::Scalar::endMark() const
{
    const auto* data = static_cast<const ScalarData*>(NodeData::of(m_node));
    return data->hasEndMark ? std::optional<Mark>(data->endMark) : std::nullopt;
}

ScalarStyle Node::Scalar::style() const
{
    return NodeData::of(m_node)->style;
}

std::optional<QString> Node::Scalar::tag() const
{
    return m_node.tag();
}

std::span<const Node::Pair> Node::Mapping::pairs() const
{
    return static_cast<const MappingData*>(NodeData::of(m_node))->view();
}

std::optional<Node::Pair> Node::Mapping::first() const
{
    return isEmpty() ? std::nullopt : std::optional<Pair>(pairs().front());
}

std::optional<Node> Node::Mapping::value(QStringView key) const
{
    const QByteArray wanted = key.toUtf8();
    for (const Pair& pair : pairs()) {
        if (pair.key.isScalar() && static_cast<const ScalarData*>(NodeData::of(pair.key))->utf8() == wanted)
            return pair.value;
    }
    return std::nullopt;
}

std::span<const Node> Node::Sequence::nodes() const
{
    return static_cast<const SequenceData*>(NodeData::of(m_node))->view();
}

} // namespace tarnwick
