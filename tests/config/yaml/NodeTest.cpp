#include "config/yaml/Node.h"

#include "YamlTestSupport.h"
#include "config/yaml/NodeData.h"

#include <QHash>
#include <gtest/gtest.h>
#include <malloc.h>
#include <thread>
#include <vector>

using namespace tarnwick;

TEST(NodeTest, BuiltNodesBehaveLikeComposedOnes)
{
    const Mark mark{1, 1, 0};
    const Node key = Node::makeScalar(QStringLiteral("名"), ScalarStyle::plain, std::nullopt, mark, Mark{1, 2, 3});
    const Node list = Node::makeSequence({Node::makeScalar(QStringLiteral("1")), Node()}, "!seq");
    const Node built = Node::makeMapping({{key, list}}, std::nullopt, mark);

    const Node composed = *Parser::compose(QByteArrayView("名: !seq [1, ~]"));
    EXPECT_EQ(built.toNative(), composed.toNative());
    EXPECT_EQ(built.toNative().toJson(), QByteArray(R"({"名":[1,null]})"));
    EXPECT_EQ(built.height(), 2);
    EXPECT_EQ(built.expandedSize(), 5);
    EXPECT_EQ(list.tag(), "!seq");
    // Copies share and compare equal; equal trees hash equally; marks take part in equality.
    const Node copy = built;
    EXPECT_EQ(copy, built);
    EXPECT_EQ(qHash(Node::makeMapping({{key, list}}, std::nullopt, mark)), qHash(built));
    EXPECT_NE(Node::makeMapping({{key, list}}), built);
    QHash<Node, int> counts;
    ++counts[built];
    ++counts[copy];
    EXPECT_EQ(counts.value(built), 2);
}

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator is invisible to mallinfo2; there LeakSanitizer checks what is returned.
constexpr bool heapMeasurable = false;
#else
constexpr bool heapMeasurable = true;
#endif

qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// A few megabytes of tree: tagged and anchored nodes, aliases, empty values.
QByteArray largeDocument()
{
    QByteArray yaml = "base: &b {name: !t base, ports: [1, 2]}\nentries:\n";
    for (int i = 0; i < 20000; ++i)
        yaml += "  - {name: !t n" + QByteArray::number(i) + ", ref: *b, empty: , list: [a, !t b]}\n";
    return yaml;
}

} // namespace

TEST(NodeTest, KeptNodesOutliveTheirDocumentAndParser)
{
    std::optional<Node> tagged;
    std::optional<Node::Sequence> inner;
    std::optional<Node> empty;
    {
        const Node root = *Parser::compose(
            QByteArrayView("outer:\n  - !t x\n  - !s [y, {z: !!str w}]\n  - key:\n    other: !e\n"));
        const Node::Sequence outer = *root.mapping()->value(u"outer")->sequence();
        tagged = outer[0];
        inner = outer[1].sequence();
        empty = outer[2].mapping()->value(u"other");
    }
    EXPECT_EQ(tagged->scalar()->string(), "x");
    EXPECT_EQ(tagged->tag(), "!t");
    EXPECT_EQ(tagged->mark(), (Mark{2, 8, 14}));
    EXPECT_EQ(inner->tag(), "!s");
    EXPECT_EQ((*inner)[0].scalar()->endMark(), (Mark{3, 10, 25}));
    EXPECT_EQ((*inner)[1].mapping()->value(u"z")->tag(), "tag:yaml.org,2002:str");
    EXPECT_EQ((*inner)[1].toNative().toJson(), QByteArray(R"({"z":"w"})"));
    EXPECT_EQ(empty->tag(), "!e");

    // Documents of one stream share their memory, yet each can be dropped on its own, in any order.
    QList<Node> documents = Parser::composeAll("- &a !t a\n- *a\n---\n{k: !t v}\n---\nlast\n");
    ASSERT_EQ(documents.size(), 3);
    const Node second = documents[1];
    documents.removeFirst();
    documents.removeLast();
    documents.clear();
    EXPECT_EQ(second.toNative().toJson(), QByteArray(R"({"k":"v"})"));
    EXPECT_EQ(second.mapping()->first()->value.tag(), "!t");
    std::optional<Node> first;
    {
        Parser parser(QByteArrayView("- x\n--- [y]\n--- z\n"));
        first = parser.nextDocument();
        parser.nextDocument(); // dropped at once, while the parser still holds the arena
    }
    EXPECT_EQ(first->sequence()->nodes()[0].scalar()->string(), "x");

    // The empty value is one shared node: adopting it many times never frees it.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Parser::compose(QByteArrayView("a:\nb:\nc: {d: , ? e}\n"))->toNative().toJson(),
                  QByteArray(R"({"a":null,"b":null,"c":{"d":null,"e":null}})"));
    EXPECT_EQ(Node().scalar()->utf8(), QByteArrayView());
}

TEST(NodeTest, AliasesShareTheAnchoredNode)
{
    QByteArray yaml = "base: &b !m {name: !t x, list: [1, 2]}\nmany: &m [";
    for (int i = 0; i < 1000; ++i)
        yaml += "*b, ";
    yaml += "*b]\nnested: [*m, *m, *m]\n";
    std::optional<Node> kept;
    {
        const Node root = *Parser::compose(QByteArrayView(yaml));
        const Node::Mapping base = *root.mapping()->value(u"base")->mapping();
        const Node::Sequence many = *root.mapping()->value(u"many")->sequence();
        ASSERT_EQ(many.count(), 1001);
        EXPECT_EQ(many[500].mapping()->pairs().data(), base.pairs().data());
        const Node nested = *root.mapping()->value(u"nested");
        EXPECT_EQ(nested.expandedSize(), 1 + 3 * (1 + 1001 * 7));
        EXPECT_EQ(nested.sequence()->nodes()[2].sequence()->nodes().data(), many.nodes().data());
        kept = many[700];
    }
    EXPECT_EQ(kept->tag(), "!m");
    EXPECT_EQ(kept->mapping()->value(u"name")->tag(), "!t");
    EXPECT_EQ(kept->toNative().toJson(), QByteArray(R"({"list":[1,2],"name":"x"})"));
}

TEST(NodeTest, BuiltCollectionsHoldParsedChildren)
{
    std::optional<Node> built;
    {
        const Node one = *Parser::compose(QByteArrayView("a: !t [1, 2]\n"));
        const Node two = *Parser::compose(QByteArrayView("- &x b\n- *x\n"));
        built = Node::makeMapping({{Node::makeScalar(QStringLiteral("one")), *one.mapping()->value(u"a")},
                                   {two.sequence()->nodes()[1], Node::makeSequence({two, one})}});
    }
    EXPECT_EQ(built->toNative().toJson(), QByteArray(R"({"b":[["b","b"],{"a":[1,2]}],"one":[1,2]})"));
    EXPECT_EQ(built->mapping()->first()->value.tag(), "!t");
    EXPECT_EQ(built->height(), 4);
    // Copies of a built node share it; the parsed children go when the last copy does.
    const Node copy = *built;
    built.reset();
    EXPECT_EQ(copy.mapping()->pairs()[1].key.scalar()->string(), "b");
}

TEST(NodeTest, TreeMemoryIsReturnedWithTheLastHandle)
{
    const QByteArray yaml = largeDocument();
    const qint64 before = heapInUse();
    std::vector<Node> kept;
    {
        const Node root = *Parser::compose(QByteArrayView(yaml));
        const Node::Sequence entries = *root.mapping()->value(u"entries")->sequence();
        for (qsizetype i = 0; i < entries.count(); i += 1000)
            kept.push_back(*entries[i].mapping()->value(u"list"));
    }
    // One node keeps the whole document.
    if (heapMeasurable) {
        EXPECT_GT(heapInUse() - before, 4'000'000);
    }
    // Handles dropped on other threads, concurrently, still return everything exactly once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        std::vector<Node> copies(5000, kept[size_t(t)]);
        threads.emplace_back([copies = std::move(copies)]() mutable {
            while (!copies.empty())
                copies.pop_back();
        });
    }
    EXPECT_EQ(kept.back().sequence()->nodes()[1].tag(), "!t");
    kept.clear();
    for (std::thread& thread : threads)
        thread.join();
    if (heapMeasurable) {
        EXPECT_LT(heapInUse() - before, 64 * 1024);
    }
}

TEST(NodeTest, ArenaCollectionsHoldChildrenFromElsewhere)
{
    // The parser only adopts nodes of its own arena (and the shared empty scalar); a collection that takes
    // a heap node or another document's node must keep it until the arena goes.
    using namespace tarnwick::detail;
    Arena* arena = Arena::create(2); // the creator's reference and the handle below
    auto* data = SequenceData::create(arena);
    data->setTag("!held");
    std::optional<Node> held;
    {
        std::vector<Node> children{Node::makeScalar(QStringLiteral("heap")),
                                   *Parser::compose(QByteArrayView("[other, !t x]")), Node()};
        data->adopt(children);
        held = NodeData::adopt(data);
        arena->release();
    }
    EXPECT_EQ(held->tag(), "!held");
    EXPECT_EQ(held->toNative().toJson(), QByteArray(R"(["heap",["other","x"],null])"));
    EXPECT_EQ(held->sequence()->nodes()[1].sequence()->nodes()[1].tag(), "!t");
}
