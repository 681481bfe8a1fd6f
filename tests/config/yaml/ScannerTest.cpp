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
    EXPECT_EQ(tag("!!str a"), QStringLiteral("tag:yaml.org,2002:str"));
    EXPECT_EQ(tag("%TAG !e! tag:example.com,2000:app/\n--- !e!foo x"),
              QStringLiteral("tag:example.com,2000:app/foo"));
    EXPECT_EQ(tag("%TAG !! tag:other:\n--- !!int 1"), QStringLiteral("tag:other:int"));
    EXPECT_EQ(tag("!&lt;str&gt; 7426"), QStringLiteral("!&lt;str&gt;"));
    EXPECT_EQ(tag("! a"), QStringLiteral("!"));
    EXPECT_EQ(tag("!<tag:yaml.org,2002:int> 1"), QStringLiteral("tag:yaml.org,2002:int"));
}

TEST(ScannerTest, ReportsErrorsWithTheirPosition)
{
    const auto scanner = [](const char* message) { return QString::fromUtf8(message); };
    EXPECT_EQ(yamlError("a: \"\\q\""), scanner("1:6: scanner error: invalid escape character '\\(q)'"));
    EXPECT_EQ(yamlError("a: \"\\é\""), scanner("1:6: scanner error: invalid escape character '\\(é)'"));
    EXPECT_EQ(yamlError("\"\\x4\""), scanner("1:5: scanner error: incomplete hex escape"));
    EXPECT_EQ(yamlError("\"\\u12"), scanner("1:6: scanner error: incomplete hex escape"));
    EXPECT_EQ(yamlError("\"\\x4g\""), scanner("1:5: scanner error: invalid hex character 'g' in escape"));
    EXPECT_EQ(yamlError("- \"\\uD800\""), scanner("1:4: scanner error: invalid unicode escape 'D800'"));
    EXPECT_EQ(yamlError("\"\\U00110000\""), scanner("1:2: scanner error: invalid unicode escape '00110000'"));
    EXPECT_EQ(yamlError("\"abc\\"),
              scanner("1:5: scanner error: unterminated escape in double-quoted string"));
    EXPECT_EQ(yamlError("a: \"abc\n  def"), scanner("1:4: scanner error: unterminated double-quoted string"));
    EXPECT_EQ(yamlError("a: 'abc"), scanner("1:4: scanner error: unterminated single-quoted string"));
    EXPECT_EQ(yamlError("& x"), scanner("1:1: scanner error: empty anchor name"));
    EXPECT_EQ(yamlError("a:\n  - *\n"), scanner("2:5: scanner error: empty alias name"));
    EXPECT_EQ(yamlError("a: @x"),
              scanner("1:4: scanner error: reserved indicator '@' cannot start a plain scalar"));
    EXPECT_EQ(yamlError("`x`"),
              scanner("1:1: scanner error: reserved indicator '`' cannot start a plain scalar"));
    EXPECT_EQ(yamlError("a: 1\n\xEF\xBB\xBF"
                        "b: 2"),
              scanner("2:1: scanner error: BOM must not appear inside a document"));
    EXPECT_EQ(yamlError("k: [a, b"), scanner("1:4: scanner error: unterminated flow sequence"));
    EXPECT_EQ(yamlError("[{a: [b]"), scanner("1:2: scanner error: unterminated flow mapping"));
    EXPECT_EQ(yamlError("!<tag:x y"), scanner("1:8: scanner error: invalid character in verbatim tag URI"));
    EXPECT_EQ(yamlError("!<tag:x"), scanner("1:1: scanner error: unterminated verbatim tag"));
    EXPECT_EQ(yamlError("!<> a"), scanner("1:1: scanner error: invalid verbatim tag '!<>'"));
    EXPECT_EQ(yamlError("!e!foo x"), scanner("1:1: scanner error: undeclared tag handle '!e!'"));
    EXPECT_EQ(yamlError("a: !! x"),
              scanner("1:4: scanner error: tag shorthand '!!' must have a non-empty suffix"));
    EXPECT_EQ(yamlError("%YAML 1.2\n%YAML 1.2\n--- a"),
              scanner("2:1: scanner error: duplicate %YAML directive"));
    EXPECT_EQ(yamlError("%TAG !e! tag:a:\n%TAG !e! tag:b:\n--- a"),
              scanner("2:1: scanner error: duplicate %TAG directive for handle '!e!'"));
    // Directives hold for one document only.
    EXPECT_EQ(yamlError("%TAG !e! tag:a:\n--- !e!x 1\n...\n%YAML 1.2\n--- !e!y 2\n"),
              scanner("5:5: scanner error: undeclared tag handle '!e!'"));
    EXPECT_EQ(yamlError("a: \xff"), scanner("1:4: scanner error: invalid UTF-8"));
    EXPECT_EQ(yamlError("a: b: c"), scanner("1:5: scanner error: mapping values are not allowed here"));
    EXPECT_EQ(yamlError("a: 1\nb\nc: 2"), scanner("2:1: scanner error: could not find expected ':'"));
}

TEST(ScannerTest, TabsSeparateButNeverIndent)
{
    EXPECT_EQ(test::native("a:\tb\nc: \t[1,\t2]"), NativeValue::fromJson(R"({"a":"b","c":[1,2]})"));
    EXPECT_EQ(test::native("a: 1\n\t\n# x\n \t# y\nb: 2"), NativeValue::fromJson(R"({"a":1,"b":2})"));
    EXPECT_EQ(yamlError("a:\n\tb: 1"),
              QStringLiteral("2:1: scanner error: tabs are not allowed as indentation"));
    EXPECT_EQ(yamlError("a:\n  x: 1\n  \ty: 2"),
              QStringLiteral("3:3: scanner error: tabs are not allowed as indentation"));
    EXPECT_EQ(yamlError("-\t- a"), QStringLiteral("1:2: scanner error: tabs are not allowed as indentation"));
    EXPECT_EQ(yamlError("k: |\n\tx\n"),
              QStringLiteral("2:1: scanner error: tabs are not allowed as indentation"));
}
