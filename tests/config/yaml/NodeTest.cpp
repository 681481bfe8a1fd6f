#include "config/yaml/Node.h"

#include "YamlTestPrinters.h"

#include <QHash>
#include <gtest/gtest.h>

using namespace tarnwick;

TEST(NodeTest, BuiltNodesBehaveLikeComposedOnes)
{
    const Mark mark{1, 1, 0};
    const Node key =
        Node::makeScalar(QStringLiteral("名"), ScalarStyle::plain, std::nullopt, mark, Mark{1, 2, 3});
    const Node list =
        Node::makeSequence({Node::makeScalar(QStringLiteral("1")), Node()}, QStringLiteral("!seq"));
    const Node built = Node::makeMapping({{key, list}}, std::nullopt, mark);

    const Node composed = *Parser::compose(QByteArrayView("名: !seq [1, ~]"));
    EXPECT_EQ(built.toNative(), composed.toNative());
    EXPECT_EQ(built.toNative().toJson(), QByteArray(R"({"名":[1,null]})"));
    EXPECT_EQ(built.height(), 2);
    EXPECT_EQ(built.expandedSize(), 5);
    EXPECT_EQ(list.tag(), QStringLiteral("!seq"));
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
