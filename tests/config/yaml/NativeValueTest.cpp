#include "config/yaml/NativeValue.h"

#include "YamlTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tarnwick;

namespace {

QString jsonError(QByteArrayView json)
{
    return test::errorText<NativeValueError>([json] { NativeValue::fromJson(json); });
}

} // namespace

TEST(NativeValueTest, MistypedReadsGiveDefaults)
{
    const NativeValue text("x");
    EXPECT_EQ(text.toInteger(), 0);
    EXPECT_EQ(text.toDouble(), 0.0);
    EXPECT_FALSE(text.toBool());
    EXPECT_TRUE(text.toArray().empty());
    EXPECT_TRUE(text.toDictionary().empty());
    EXPECT_TRUE(NativeValue(qint64(3)).toString().isEmpty());
    EXPECT_TRUE(text.value("x").isNull());

    // Numbers cross over only when exact.
    EXPECT_EQ(NativeValue(3.0).toInteger(), 3);
    EXPECT_EQ(NativeValue(3.5).toInteger(), 0);
    EXPECT_EQ(NativeValue(9223372036854775808.0).toInteger(), 0);
    EXPECT_EQ(NativeValue(qint64(1) << 53).toDouble(), 9007199254740992.0);
}

TEST(NativeValueTest, MutableAccessReplacesOtherTypes)
{
    NativeValue value;
    value.dictionary()["b"] = 2;
    value.dictionary()["a"].array().push_back("x");
    EXPECT_EQ(value.toJson(), QByteArray(R"({"a":["x"],"b":2})"));
    value.dictionary()["b"].array().push_back(true);
    EXPECT_EQ(value.value("b"), NativeValue(NativeValue::Array{true}));
    EXPECT_TRUE(value.contains("a"));
    EXPECT_FALSE(value.contains("c"));
}

TEST(NativeValueTest, EqualityIsDeepAndNumeric)
{
    EXPECT_EQ(NativeValue(qint64(1000)), NativeValue(1000.0));
    EXPECT_EQ(NativeValue(1000.0), NativeValue(1000));
    EXPECT_NE(NativeValue(qint64(1)), NativeValue(1.5));
    // INT64_MAX rounds to 2^63 as a double, but the values differ.
    EXPECT_NE(NativeValue(std::numeric_limits<qint64>::max()), NativeValue(9223372036854775808.0));
    EXPECT_NE(NativeValue(true), NativeValue(1));
    EXPECT_NE(NativeValue("1"), NativeValue(1));
    EXPECT_NE(NativeValue(), NativeValue(""));
    EXPECT_NE(NativeValue(std::nan("")), NativeValue(std::nan("")));
    const NativeValue a(NativeValue::Dictionary{{"k", NativeValue::Array{1, 2.0, "x"}}});
    const NativeValue b(NativeValue::Dictionary{{"k", NativeValue::Array{1.0, 2, "x"}}});
    const NativeValue c(NativeValue::Dictionary{{"k", NativeValue::Array{1, 2, "y"}}});
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(NativeValueTest, WritesJson)
{
    NativeValue::Dictionary entries;
    entries["url"] = "https://example.com/a?b=1";
    entries["name"] = "🇭🇰 香港 \"q\" \\ \t\n\x01";
    entries["big"] = std::numeric_limits<qint64>::min();
    entries["ratio"] = 0.1;
    entries["empty"] = NativeValue::Dictionary();
    entries["list"] = NativeValue::Array{nullptr, false, NativeValue::Array()};
    const NativeValue value(entries);
    EXPECT_EQ(QString::fromUtf8(value.toJson()),
              QStringLiteral(
                  R"({"big":-9223372036854775808,"empty":{},"list":[null,false,[]],)"
                  R"("name":"🇭🇰 香港 \"q\" \\ \t\n\u0001","ratio":0.1,"url":"https://example.com/a?b=1"})"));
    const NativeValue small(
        NativeValue::Dictionary{{"a", NativeValue::Array{1, NativeValue::Dictionary()}}, {"b", 2}});
    EXPECT_EQ(small.toJson(NativeValue::JsonFormat::Pretty),
              QByteArray("{\n  \"a\": [\n    1,\n    {}\n  ],\n  \"b\": 2\n}"));

    EXPECT_EQ(test::errorText<NativeValueError>(
                  [] { NativeValue(NativeValue::Array{std::numeric_limits<double>::infinity()}).toJson(); }),
              "Cannot write a non-finite number as JSON");
}

// The writer grows one buffer as it goes: a document far beyond its first allocation, with texts in
// every UTF-8 length and a lone surrogate (encoded as Qt's own encoder does), must come out whole.
TEST(NativeValueTest, WritesLargeDocumentsWhole)
{
    const QString mixed = QStringLiteral("a\u00e9\u9999🚀") + QChar(0xD800) + "z\x1f";
    const QByteArray mixedJson = "\"a\u00e9\u9999🚀" + QString(QChar(0xD800)).toUtf8() + "z\\u001f\"";
    NativeValue::Array rows;
    QByteArray expected = "[";
    for (int i = 0; i < 20000; ++i) {
        rows.push_back(NativeValue::Dictionary{{"n", i}, {"t", mixed}});
        expected += (i ? ",{\"n\":" : "{\"n\":") + QByteArray::number(i) + ",\"t\":" + mixedJson + '}';
    }
    expected += ']';
    const NativeValue value(std::move(rows));
    EXPECT_EQ(value.toJson(), expected);
    const QByteArray pretty = value.toJson(NativeValue::JsonFormat::Pretty);
    EXPECT_TRUE(pretty.endsWith("\n  }\n]"));
    EXPECT_EQ(pretty.count('\n'), 20000 * 4 + 1);
}

TEST(NativeValueTest, ReadsJson)
{
    const NativeValue value = NativeValue::fromJson(
        R"( {"i": 9223372036854775807, "n": -12, "d": 1.5e3, "tiny": 1e-400, "over": 18446744073709551616,
             "s": "a\/b\u00e9\ud83d\ude00", "t": true, "z": null, "a": [], "o": {"k": [1]}} )");
    EXPECT_TRUE(value.value("i").isInteger());
    EXPECT_EQ(value.value("i").toInteger(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(value.value("n").toInteger(), -12);
    EXPECT_TRUE(value.value("d").isDouble());
    EXPECT_EQ(value.value("d").toDouble(), 1500.0);
    EXPECT_EQ(value.value("tiny").toDouble(), 0.0);
    EXPECT_TRUE(value.value("over").isDouble());
    EXPECT_EQ(value.value("s").toString(), "a/bé😀");
    EXPECT_TRUE(value.value("z").isNull());
    EXPECT_TRUE(value.value("a").isArray());
    EXPECT_EQ(value.value("o").value("k").toArray().at(0), NativeValue(1));

    EXPECT_EQ(NativeValue::fromJson("\"\xEF\xBB\xBFx\"").toString(), QStringLiteral("\uFEFFx"));
    // What is written reads back as the same value.
    EXPECT_EQ(NativeValue::fromJson(value.toJson()).toJson(), value.toJson());
}

TEST(NativeValueTest, RejectsMalformedJson)
{
    EXPECT_EQ(jsonError(""), "Invalid JSON at offset 0: unexpected end of input");
    EXPECT_EQ(jsonError("[1,]"), "Invalid JSON at offset 3: unexpected character");
    EXPECT_EQ(jsonError("{\"a\" 1}"), "Invalid JSON at offset 5: expected ':'");
    EXPECT_EQ(jsonError("[1 2]"), "Invalid JSON at offset 3: expected ',' or ']'");
    EXPECT_EQ(jsonError("01"), "Invalid JSON at offset 0: leading zero in number");
    EXPECT_EQ(jsonError("\"\\ud800\""), "Invalid JSON at offset 7: unpaired surrogate in \\u escape");
    EXPECT_EQ(jsonError("\"a\nb\""), "Invalid JSON at offset 2: control character in string");
    EXPECT_EQ(jsonError("\"\\q\""), "Invalid JSON at offset 2: invalid escape");
    EXPECT_EQ(jsonError("\"\xC3\x28\""), "Invalid JSON at offset 0: invalid UTF-8");
    EXPECT_EQ(jsonError("[1e400]"), "Invalid JSON at offset 1: number out of range");
    EXPECT_EQ(jsonError("[-0.00012e313]"), "Invalid JSON at offset 1: number out of range");
    EXPECT_EQ(NativeValue::fromJson("[0.00012e-340, 1e308]"), NativeValue(NativeValue::Array{0.0, 1e308}));
    EXPECT_EQ(jsonError("1 2"), "Invalid JSON at offset 2: unexpected text after the value");
    // Deep nesting is an error, not a stack overflow.
    EXPECT_EQ(jsonError(QByteArray(100000, '[')), "Invalid JSON at offset 512: nesting too deep");
}
