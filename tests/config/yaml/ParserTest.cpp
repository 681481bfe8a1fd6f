#include "config/yaml/Parser.h"

#include "YamlTestSupport.h"
#include "config/yaml/Node.h"

#include <gtest/gtest.h>
#include <limits>

using namespace tarnwick;
using tarnwick::test::native;
using tarnwick::test::yamlError;

namespace {

NativeValue json(const char* text)
{
    return NativeValue::fromJson(text);
}

QByteArray repeated(const char* unit, int count)
{
    return QByteArray(unit).repeated(count);
}

// count levels of block sequences nested on one line, or of block mappings nested by indentation.
QByteArray nestedBlockSequences(int count)
{
    return repeated("- ", count) + "x\n";
}

QByteArray nestedBlockMappings(int count)
{
    QByteArray yaml;
    for (int i = 0; i < count; ++i)
        yaml += QByteArray(i, ' ') + "k:\n";
    return yaml;
}

} // namespace

TEST(ParserTest, ComposesDocuments)
{
    EXPECT_TRUE(Parser::composeAll("").isEmpty());
    EXPECT_TRUE(Parser::composeAll("# only\n\n   # comments\n").isEmpty());
    EXPECT_FALSE(Parser::compose(QByteArrayView("# nothing\n")).has_value());

    const QList<Node> documents = Parser::composeAll("a\n---\n- b\n...\n{c: d}\n--- |\n  e\n---\n");
    ASSERT_EQ(documents.size(), 5);
    EXPECT_EQ(documents[0].toNative(), NativeValue("a"));
    EXPECT_EQ(documents[1].toNative(), json(R"(["b"])"));
    EXPECT_EQ(documents[2].toNative(), json(R"({"c":"d"})"));
    EXPECT_EQ(documents[3].toNative(), NativeValue("e\n"));
    EXPECT_TRUE(documents[4].toNative().isNull()); // an explicit document may be empty
    // Compose-first stops after the first document, so later ones are not even read.
    EXPECT_EQ(Parser::compose(QByteArrayView("a: 1\n--- [\n"))->toNative(), json(R"({"a":1})"));
    EXPECT_EQ(Parser::compose(QStringView(u"名: 値"))->toNative(), json(R"({"名":"値"})"));
}

TEST(ParserTest, RecordsMarksTagsAndStyles)
{
    const Node root = *Parser::compose(QByteArrayView("top:\n  - &a !!str 'x'\n  - {k: \"v\"}\n"));
    EXPECT_EQ(root.mark(), (Mark{1, 1, 0}));
    const Node list = *root.mapping()->value(u"top");
    EXPECT_EQ(list.mark(), (Mark{2, 3, 7}));
    const auto quoted = list.sequence()->nodes()[0].scalar();
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->string(), "x");
    EXPECT_EQ(quoted->style(), ScalarStyle::singleQuoted);
    EXPECT_EQ(quoted->tag(), "tag:yaml.org,2002:str");
    EXPECT_EQ(quoted->mark(), (Mark{2, 14, 18}));
    EXPECT_EQ(quoted->endMark(), (Mark{2, 17, 21})); // the range covers the quotes
    const Node flow = list.sequence()->nodes()[1];
    EXPECT_EQ(flow.mark(), (Mark{3, 5, 26}));
    EXPECT_EQ(flow.mapping()->first()->value.scalar()->style(), ScalarStyle::doubleQuoted);
    // The empty value of a key is an empty plain scalar without a position.
    const Node empty = *Parser::compose(QByteArrayView("a:\n"))->mapping()->value(u"a");
    EXPECT_EQ(empty.scalar()->string(), QString());
    EXPECT_FALSE(empty.mark().has_value());
    // Structural equality: the same text composes to equal trees, a different position does not.
    EXPECT_EQ(*Parser::compose(QByteArrayView("[a, {b: c}]")),
              *Parser::compose(QByteArrayView("[a, {b: c}]")));
    EXPECT_NE(*Parser::compose(QByteArrayView("[a, {b: c}]")),
              *Parser::compose(QByteArrayView(" [a, {b: c}]")));
}

TEST(ParserTest, ResolvesPlainScalars)
{
    const NativeValue values = native(R"(
- [~, null, Null, NULL]
- [true, True, TRUE, false, False, FALSE, tRUE]
- [7890, -12, +3, 9223372036854775807, 9223372036854775808]
- [0x1F, 0XfF, 0o17, 0O7, 0x, 0o8, -0x1]
- [1e3, 1.5, -.5, 2., 1.2.3, 1e, 1e400]
- ['7890', "true", '']
- |-
  12
- >-
  1.5)");
    const auto& rows = values.toArray();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], json("[null, null, null, null]"));
    EXPECT_EQ(rows[1], json(R"([true, true, true, false, false, false, "tRUE"])"));
    EXPECT_EQ(rows[2], json(R"([7890, -12, 3, 9223372036854775807, "9223372036854775808"])"));
    EXPECT_EQ(rows[3], json(R"([31, 255, 15, 7, "0x", "0o8", "-0x1"])"));
    EXPECT_TRUE(rows[4].toArray()[0].isDouble());
    EXPECT_EQ(rows[4].toArray()[0].toDouble(), 1000.0);
    EXPECT_EQ(NativeValue(NativeValue::Array(rows[4].toArray().begin(), rows[4].toArray().end() - 1)),
              json(R"([1000, 1.5, -0.5, 2, "1.2.3", "1e"])"));
    EXPECT_EQ(rows[4].toArray().back().toDouble(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(rows[5], json(R"(["7890", "true", ""])"));
    // Literal and folded scalars resolve like plain ones.
    EXPECT_EQ(rows[6], NativeValue(12));
    EXPECT_EQ(rows[7], NativeValue(1.5));

    const auto special = native("[.inf, -.Inf, +.INF, .nan, .NaN]").toArray();
    EXPECT_EQ(special[0].toDouble(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(special[1].toDouble(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(special[2].toDouble(), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(special[3].toDouble()) && std::isnan(special[4].toDouble()));
}

TEST(ParserTest, TaggedScalarsKeepTheirType)
{
    // Core-schema tags decide the type in any style, also where the value comes from an alias or a merge;
    // the verbatim form means the same. Other tags, and "!!" bound to another prefix, change nothing.
    EXPECT_EQ(native(R"(
password: !!str 0123
empty: !!str
list: [!!str true, !!int '12', !!float 1, !!bool "false", !!null '', !!str ~, !!float 0x10, !!int 0o17]
block: !!str |-
  7890
base: &b {name: !!str 007, port: &p !!str 7890}
merged: {<<: *b, use: *p}
verbatim: !<tag:yaml.org,2002:str> 1.5
other: [!custom 12, ! 12, !!binary 3]
)"),
              json(R"({"password": "0123", "empty": "", "list": ["true", 12, 1.0, false, null, "~", 16.0, 15],
                       "block": "7890", "base": {"name": "007", "port": "7890"},
                       "merged": {"name": "007", "port": "7890", "use": "7890"},
                       "verbatim": "1.5", "other": [12, 12, 3]})"));
    EXPECT_TRUE(native("!!float 1").isDouble());
    EXPECT_EQ(native("%TAG !! tag:example.com,2000:\n--- !!str 12"), NativeValue(12));

    // A text that does not fit its tag is an error naming the tag, the text and where it stands.
    EXPECT_EQ(yamlError("port: !!int abc"), "1:13: conversion error: 'abc' does not fit the tag !!int");
    EXPECT_EQ(yamlError("- !!int 1.5\n- !!float 1.2.3"),
              "1:9: conversion error: '1.5' does not fit the tag !!int");
    EXPECT_EQ(yamlError("a:\n  - !!bool yes"), "2:12: conversion error: 'yes' does not fit the tag !!bool");
    EXPECT_EQ(yamlError("{a: !!null 0}"), "1:12: conversion error: '0' does not fit the tag !!null");
    EXPECT_EQ(yamlError("x: !<tag:yaml.org,2002:float> 'one'"),
              "1:31: conversion error: 'one' does not fit the tag !!float");
    EXPECT_EQ(yamlError("a: &x !!int q\nb: *x"), "1:13: conversion error: 'q' does not fit the tag !!int");
}

TEST(ParserTest, ConvertsMappingsWithMergeKeys)
{
    // Explicit keys win over merged ones wherever they stand; the first merged mapping wins over later ones.
    const QByteArray base = "base: &b {a: 1, b: 2}\nother: &o {b: 4, c: 5}\n";
    EXPECT_EQ(native(base + "x: {<<: *b, b: 3}").value(u"x"_qs), json(R"({"a":1,"b":3})"));
    EXPECT_EQ(native(base + "x:\n  b: 3\n  <<: *b\n").value(u"x"_qs), json(R"({"a":1,"b":3})"));
    EXPECT_EQ(native(base + "x: {<<: [*o, *b]}").value(u"x"_qs), json(R"({"a":1,"b":4,"c":5})"));
    EXPECT_EQ(native(base + "x: {<<: scalar, <<: [1, *b], d: 6}").value(u"x"_qs),
              json(R"({"a":1,"b":2,"d":6})"));
    // A later duplicate key replaces the value, though the node keeps both pairs.
    const Node root = *Parser::compose(QByteArrayView("k: 1\nk: 2\n"));
    EXPECT_EQ(root.mapping()->count(), 2);
    EXPECT_EQ(root.mapping()->value(u"k")->scalar()->string(), "1");
    EXPECT_EQ(root.toNativeDictionary(), json(R"({"k":2})").toDictionary());
    EXPECT_FALSE(root.toNativeArray().has_value());
    // A leading U+FEFF is a character like any other inside a scalar.
    const Node bom = *Parser::compose(QByteArrayView("\"\\uFEFFk\": '\xEF\xBB\xBFv'"));
    EXPECT_EQ(bom.toNative(), json("{\"\\ufeffk\": \"\\ufeffv\"}"));
    EXPECT_EQ(bom.mapping()->value(u"\uFEFFk")->scalar()->string(), QStringLiteral("\uFEFFv"));
    // Keys stay text; a key that is not a scalar is keyed by its JSON.
    EXPECT_EQ(native("1: a\ntrue: b\n? [x, 2]\n: c\n"), json(R"({"1":"a","true":"b","[\"x\",2]":"c"})"));
}

TEST(ParserTest, ResolvesAliasesBySharing)
{
    const Node root = *Parser::compose(QByteArrayView("a: &x [1, {b: 2}]\nc: *x\nd: &x 3\ne: *x\n"));
    EXPECT_EQ(root.toNative(), json(R"({"a":[1,{"b":2}],"c":[1,{"b":2}],"d":3,"e":3})"));
    // The alias is the anchored node itself, marks included.
    EXPECT_EQ(root.mapping()->value(u"c")->mark(), root.mapping()->value(u"a")->mark());

    EXPECT_EQ(yamlError("a: *nope"), "1:4: parser error: undefined alias '*nope'");
    EXPECT_EQ(yamlError("a: *x\nb: &x 1"), "1:4: parser error: undefined alias '*x'");
    EXPECT_EQ(yamlError("a: &x [*x]"), "1:8: parser error: undefined alias '*x'");
    EXPECT_EQ(yamlError("--- &x a\n--- *x"), "2:5: parser error: undefined alias '*x'");
}

TEST(ParserTest, RejectsBillionLaughs)
{
    QByteArray yaml = "l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
    for (int level = 1; level <= 9; ++level) {
        yaml += QStringLiteral("l%1: &l%1 [").arg(level).toUtf8();
        for (int i = 0; i < 10; ++i)
            yaml += (i ? ", *l" : "*l") + QByteArray::number(level - 1);
        yaml += "]\n";
    }
    const Node root = *Parser::compose(QByteArrayView(yaml));
    EXPECT_GT(root.expandedSize(), 1'000'000'000);
    try {
        root.toNativeDictionary();
        FAIL() << "the document expanded";
    } catch (const YAMLError& error) {
        EXPECT_EQ(error.kind(), YAMLError::Kind::expansionLimitExceeded);
        EXPECT_EQ(error.description(), "1:1: aliases expand the document beyond 1001936 values");
    }
    // A moderate reuse of anchors converts.
    EXPECT_EQ(native("a: &a [1, 2]\nb: [*a, *a, *a]").value(u"b"_qs).toArray().size(), 3u);
}

TEST(ParserTest, LimitsNestingDepth)
{
    const auto depthError = [](const QByteArray& yaml) {
        try {
            Parser::compose(QByteArrayView(yaml));
        } catch (const YAMLError& error) {
            EXPECT_EQ(error.kind(), YAMLError::Kind::depthLimitExceeded);
            return error.description();
        }
        return QString("(no error)");
    };
    EXPECT_EQ(depthError(repeated("[", 512) + repeated("]", 512)), "(no error)");
    EXPECT_EQ(depthError(repeated("[", 513) + repeated("]", 513)), "1:513: nesting depth limit exceeded");
    EXPECT_EQ(depthError(repeated("{a: ", 513) + "b" + repeated("}", 513)),
              "1:2049: nesting depth limit exceeded");
    EXPECT_EQ(depthError(nestedBlockSequences(512)), "(no error)");
    EXPECT_EQ(depthError(nestedBlockSequences(513)), "1:1025: nesting depth limit exceeded");
    EXPECT_EQ(depthError(nestedBlockMappings(512)), "(no error)");
    EXPECT_EQ(depthError(nestedBlockMappings(513)), "513:513: nesting depth limit exceeded");
    // Hostile nesting fails with the error, not by exhausting the stack.
    EXPECT_EQ(depthError(repeated("[", 100000)), "1:513: nesting depth limit exceeded");
    EXPECT_EQ(depthError(repeated("{a: ", 100000)), "1:2049: nesting depth limit exceeded");
    EXPECT_EQ(depthError(nestedBlockSequences(100000)), "1:1025: nesting depth limit exceeded");
    // An alias counts with the depth of its anchored node, so expansion cannot nest deeper either.
    const QByteArray deep = "a: &a " + repeated("[", 300) + repeated("]", 300) + "\n";
    EXPECT_EQ(depthError(deep + "b: " + repeated("[", 211) + "*a" + repeated("]", 211)), "(no error)");
    EXPECT_EQ(depthError(deep + "b: " + repeated("[", 212) + "*a" + repeated("]", 212)),
              "2:216: nesting depth limit exceeded");
    // The caller chooses the limit.
    EXPECT_THROW(Parser::composeAll(QByteArrayView("[[[]]]"), 2), YAMLError);
}

TEST(ParserTest, ReportsParserErrors)
{
    EXPECT_EQ(yamlError("[a, b}"), "1:6: parser error: unexpected token in flow: '}'");
    EXPECT_EQ(yamlError("{a: b c: d}"), "1:8: parser error: unexpected token in flow: a mapping value (:)");
    EXPECT_EQ(yamlError("{a: \"b\" c}"), "1:9: parser error: unexpected token in flow: a scalar");
    EXPECT_EQ(yamlError("[- a]"), "1:2: parser error: unexpected token in flow: a sequence entry (- )");
    EXPECT_EQ(yamlError("]"), "1:1: parser error: unexpected token: ']'");
    EXPECT_EQ(yamlError("- a\nb: c"),
              "2:1: parser error: expected the end of a block sequence but got a mapping key");
    EXPECT_EQ(yamlError("[a]\n[b]"), "2:1: parser error: expected a document start (---) but got '['");
    EXPECT_EQ(yamlError("&a &b x"), "1:4: parser error: unexpected token: an anchor (&)");
}
