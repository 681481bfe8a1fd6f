#include "YamlTestSupport.h"
#include "config/yaml/NativeValue.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using namespace tarnwick;

namespace {

QStringList keysOf(const NativeValue::Dictionary& dictionary)
{
    QStringList keys;
    for (const auto& [key, value] : dictionary)
        keys.append(key);
    return keys;
}

} // namespace

// Built from document order: sorted, and of equal keys the last one stays. Small dictionaries take an
// in-place sort, large ones a buffered one; both must agree.
TEST(NativeDictionaryTest, FromEntriesSortsAndKeepsTheLastOfEqualKeys)
{
    for (const int distinct : {5, 300}) {
        std::vector<NativeValue::Dictionary::value_type> entries;
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < distinct; ++i)
                entries.emplace_back(QStringLiteral("k%1").arg(i, 4, 10, QLatin1Char('0')), round * 1000 + i);
        }
        std::shuffle(entries.begin(), entries.begin() + distinct, std::mt19937(7)); // round 0 only
        const auto dictionary = NativeValue::Dictionary::fromEntries(std::move(entries));
        ASSERT_EQ(dictionary.size(), distinct);
        QStringList sorted = keysOf(dictionary);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(keysOf(dictionary), sorted);
        for (const auto& [key, value] : dictionary)
            EXPECT_EQ(value.toInteger(), 2000 + key.mid(1).toInt()) << key.toStdString();
    }
}

// Keys order by UTF-16 code units, the order every configuration written so far was serialised in: an
// astral character (a surrogate pair) sorts before U+FFFD, upper case before lower case.
TEST(NativeDictionaryTest, KeysOrderByUtf16Units)
{
    NativeValue::Dictionary dictionary;
    for (const QString& key : QStringList{"\uFFFD", "🚀", "b", "B", "é", ""})
        dictionary[key] = key;
    EXPECT_EQ(keysOf(dictionary), QStringList({QString(), "B", "b", "é", "🚀", "\uFFFD"}));
    EXPECT_EQ(NativeValue(dictionary).toJson(),
              QByteArray(R"({"":"","B":"B","b":"b","é":"é","🚀":"🚀","�":"�"})"));
}

TEST(NativeDictionaryTest, InsertTakeAndMerge)
{
    // An initializer list keeps the first of equal keys, as a map's does.
    NativeValue::Dictionary dictionary{{"b", 1}, {"a", 2}, {"b", 3}};
    EXPECT_EQ(NativeValue(dictionary).toJson(), QByteArray(R"({"a":2,"b":1})"));

    EXPECT_FALSE(dictionary.try_emplace("a", 9).second);
    EXPECT_TRUE(dictionary.insert_or_assign("c", 4).second);
    EXPECT_FALSE(dictionary.insert_or_assign("a", 5).second);
    EXPECT_TRUE(dictionary["0"].isNull());
    EXPECT_EQ(keysOf(dictionary), QStringList({"0", "a", "b", "c"}));

    EXPECT_EQ(dictionary.take(u"a"), NativeValue(5));
    EXPECT_FALSE(dictionary.take(u"a").has_value());
    EXPECT_FALSE(dictionary.contains(u"a"));
    EXPECT_TRUE(dictionary.find(u"zz") == dictionary.end());

    // Merging adds only what is missing, in one sorted pass.
    dictionary.insertMissing(NativeValue::Dictionary{{"a", 10}, {"b", 11}, {"d", 12}, {"00", 13}});
    EXPECT_EQ(NativeValue(dictionary).toJson(),
              QByteArray(R"({"0":null,"00":13,"a":10,"b":1,"c":4,"d":12})"));
}

// A value assigned from one of its own children must take the child over, not read it after freeing it.
TEST(NativeDictionaryTest, AssigningAChildToItsParent)
{
    NativeValue value(NativeValue::Dictionary{
        {"child", NativeValue::Dictionary{{"grandchild", NativeValue::Array{"x", 1}}}}, {"other", 2}});
    value = std::move(value.dictionary()["child"]);
    EXPECT_EQ(value.toJson(), QByteArray(R"({"grandchild":["x",1]})"));
    value = value.value("grandchild");
    EXPECT_EQ(value.toJson(), QByteArray(R"(["x",1])"));
    value = std::move(value.array()[0]);
    EXPECT_EQ(value, NativeValue("x"));
}
