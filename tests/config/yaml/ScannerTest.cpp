#include "config/yaml/Scanner.h"

#include "YamlTestSupport.h"

#include <gtest/gtest.h>

using namespace tarnwick;
using tarnwick::test::yamlError;
using Kind = Token::Kind;

namespace {

std::vector<Token> scanAll(QByteArrayView yaml)
{
    Scanner scanner(yaml);
    std::vector<Token> tokens;
    do {
        tokens.push_back(scanner.next());
    } while (tokens.back().kind != Kind::streamEnd);
    return tokens;
}

Mark at(int line, int column, qint64 offset)
{
    return Mark{line, column, offset};
}

} // namespace

// Token structure and scalar decoding are held to the conformance suite's JSON cases; what follows is
// what those cases cannot show: positions, tags, the exact escape set and the error messages.

TEST(ScannerTest, EndsTheStreamOnce)
{
    Scanner scanner("");
    EXPECT_EQ(scanner.next().kind, Kind::streamStart);
    EXPECT_EQ(scanner.next().kind, Kind::streamEnd);
    EXPECT_EQ(scanner.next().kind, Kind::streamEnd);
}

TEST(ScannerTest, MarksCountScalarsAndBytes)
{
    // The BOM is skipped but counts in byte offsets.
    auto tokens = scanAll("\xEF\xBB\xBF"
                          "a: 1");
    EXPECT_EQ(tokens[3].mark, at(1, 1, 3));
    EXPECT_EQ(tokens[5].mark, at(1, 4, 6));

    // Columns count Unicode scalars, offsets count bytes (a flag emoji is two scalars of four bytes).
    tokens = scanAll("名前: 值\n");
    EXPECT_EQ(tokens[5].mark, at(1, 5, 8));
    EXPECT_EQ(tokens[5].endMark, at(1, 6, 11));
    tokens = scanAll("- 🇭🇰 x: \"é\"\n");
    const Token& quoted = tokens[7];
    ASSERT_EQ(quoted.kind, Kind::scalar);
    EXPECT_EQ(quoted.mark, at(1, 9, 14));
    EXPECT_EQ(quoted.endMark, at(1, 12, 18)); // just past the closing quote

    // CR LF and a lone CR both end a line.
    tokens = scanAll("a: 1\r\nb: 2\rc: 3");
    EXPECT_EQ(tokens[7].mark, at(2, 1, 6));
    EXPECT_EQ(tokens[9].mark, at(2, 4, 9));
    EXPECT_EQ(tokens[11].mark, at(3, 1, 11));
}

TEST(ScannerTest, DecodesEscapesAndTags)
{
    const auto text = [](QByteArrayView yaml) { return QString::fromUtf8(scanAll(yaml)[1].text); };
    static const char escaped[] = "\0\a\b\t\t\n\v\f\r\x1B \"/\\\xC2\x85\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9"
                                  "Aé😀";
    EXPECT_EQ(text(R"("\0\a\b\t\	\n\v\f\r\e\ \"\/\\\N\_\L\P\x41\u00e9\U0001F600")"),
              QString::fromUtf8(escaped, sizeof escaped - 1));
    // A colon without a following blank stays inside a plain scalar: URLs keep their scheme and port.
    EXPECT_EQ(scanAll("url: http://example.com:8080/a")[5].text, "http://example.com:8080/a");

    // Tags resolve through the directives of their document; "!" needs no declaration.
    const auto tag = [](QByteArrayView yaml) {
        for (const Token& token : scanAll(yaml)) {
            if (token.kind == Kind::tag)
                return QString::fromUtf8(token.text);
        }
        return QString();
    };
    EXPECT_EQ(tag("!!str a"), "tag:yaml.org,2002:str");
    EXPECT_EQ(tag("%TAG !e! tag:example.com,2000:app/\n--- !e!foo x"), "tag:example.com,2000:app/foo");
    EXPECT_EQ(tag("%TAG !! tag:other:\n--- !!int 1"), "tag:other:int");
    EXPECT_EQ(tag("!&lt;str&gt; 7426"), "!&lt;str&gt;");
    EXPECT_EQ(tag("! a"), "!");
    EXPECT_EQ(tag("!<tag:yaml.org,2002:int> 1"), "tag:yaml.org,2002:int");
}

TEST(ScannerTest, ReportsErrorsWithTheirPosition)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a: \"\\q\"", "1:6: scanner error: invalid escape character '\\(q)'"},
        {"a: \"\\é\"", "1:6: scanner error: invalid escape character '\\(é)'"},
        {"\"\\x4\"", "1:5: scanner error: incomplete hex escape"},
        {"\"\\u12", "1:6: scanner error: incomplete hex escape"},
        {"\"\\x4g\"", "1:5: scanner error: invalid hex character 'g' in escape"},
        {"- \"\\uD800\"", "1:4: scanner error: invalid unicode escape 'D800'"},
        {"\"\\U00110000\"", "1:2: scanner error: invalid unicode escape '00110000'"},
        {"\"abc\\", "1:5: scanner error: unterminated escape in double-quoted string"},
        {"a: \"abc\n  def", "1:4: scanner error: unterminated double-quoted string"},
        {"a: 'abc", "1:4: scanner error: unterminated single-quoted string"},
        {"& x", "1:1: scanner error: empty anchor name"},
        {"a:\n  - *\n", "2:5: scanner error: empty alias name"},
        {"a: @x", "1:4: scanner error: reserved indicator '@' cannot start a plain scalar"},
        {"`x`", "1:1: scanner error: reserved indicator '`' cannot start a plain scalar"},
        {"a: 1\n\xEF\xBB\xBF"
         "b: 2",
         "2:1: scanner error: BOM must not appear inside a document"},
        {"k: [a, b", "1:4: scanner error: unterminated flow sequence"},
        {"[{a: [b]", "1:2: scanner error: unterminated flow mapping"},
        {"!<tag:x y", "1:8: scanner error: invalid character in verbatim tag URI"},
        {"!<tag:x", "1:1: scanner error: unterminated verbatim tag"},
        {"!<> a", "1:1: scanner error: invalid verbatim tag '!<>'"},
        {"!e!foo x", "1:1: scanner error: undeclared tag handle '!e!'"},
        {"a: !! x", "1:4: scanner error: tag shorthand '!!' must have a non-empty suffix"},
        {"%YAML 1.2\n%YAML 1.2\n--- a", "2:1: scanner error: duplicate %YAML directive"},
        {"%TAG !e! tag:a:\n%TAG !e! tag:b:\n--- a",
         "2:1: scanner error: duplicate %TAG directive for handle '!e!'"},
        // Directives hold for one document only.
        {"%TAG !e! tag:a:\n--- !e!x 1\n...\n%YAML 1.2\n--- !e!y 2\n",
         "5:5: scanner error: undeclared tag handle '!e!'"},
        {"a: \xff", "1:4: scanner error: invalid UTF-8"},
        {"a: b: c", "1:5: scanner error: mapping values are not allowed here"},
        {"a: 1\nb\nc: 2", "2:1: scanner error: could not find expected ':'"},
    };
    for (const auto& [yaml, message] : cases)
        EXPECT_EQ(yamlError(yaml), QString::fromUtf8(message)) << yaml;
}

TEST(ScannerTest, TabsSeparateButNeverIndent)
{
    EXPECT_EQ(test::native("a:\tb\nc: \t[1,\t2]"), NativeValue::fromJson(R"({"a":"b","c":[1,2]})"));
    EXPECT_EQ(test::native("a: 1\n\t\n# x\n \t# y\nb: 2"), NativeValue::fromJson(R"({"a":1,"b":2})"));
    EXPECT_EQ(yamlError("a:\n\tb: 1"), "2:1: scanner error: tabs are not allowed as indentation");
    EXPECT_EQ(yamlError("a:\n  x: 1\n  \ty: 2"), "3:3: scanner error: tabs are not allowed as indentation");
    EXPECT_EQ(yamlError("-\t- a"), "1:2: scanner error: tabs are not allowed as indentation");
    EXPECT_EQ(yamlError("k: |\n\tx\n"), "2:1: scanner error: tabs are not allowed as indentation");
}
