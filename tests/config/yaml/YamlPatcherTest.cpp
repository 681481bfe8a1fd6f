#include "config/yaml/YamlPatcher.h"

#include "YamlTestSupport.h"

#include <gtest/gtest.h>

using namespace tarnwick;
using Path = QList<YamlPathSegment>;

namespace {

YamlPathSegment key(const char* text)
{
    return YamlPathSegment::key(QString::fromUtf8(text));
}

YamlPathSegment index(qsizetype value)
{
    return YamlPathSegment::index(value);
}

QString patched(const QString& yaml, const Path& path, const QString& value)
{
    return YamlPatcher::patch(yaml, path, value);
}

QString patchError(const QString& yaml, const Path& path)
{
    return test::errorText([&] { YamlPatcher::patch(yaml, path, "x"); });
}

} // namespace

TEST(YamlPatcherTest, ReplacesOnlyTheScalar)
{
    // Comments, the blanks before them and every other line stay as written.
    EXPECT_EQ(patched("# head\nmixed-port: 7890   # the port\nmode: rule\n", {key("mixed-port")}, "7891"),
              "# head\nmixed-port: 7891   # the port\nmode: rule\n");
    // Each scalar keeps its style.
    EXPECT_EQ(patched("name: 'node'\n", {key("name")}, "it's"), "name: 'it''s'\n");
    EXPECT_EQ(patched("p: \"a\\tb\" # c\n", {key("p")}, QStringLiteral(R"(say "hi" \o/)")),
              QStringLiteral(R"(p: "say \"hi\" \\o/" # c)") + QLatin1Char('\n'));
    // Inside flow collections only the value changes, not the rest of the line.
    EXPECT_EQ(patched("proxies:\n  - {name: a, port: 443, type: ss}\n",
                      {key("proxies"), index(0), key("port")}, "8443"),
              "proxies:\n  - {name: a, port: 8443, type: ss}\n");
    // Offsets are bytes: non-ASCII text before the target, CR LF line ends.
    EXPECT_EQ(patched("名前: 🇭🇰 香港\r\nport: 1\r\n", {key("port")}, "2"), "名前: 🇭🇰 香港\r\nport: 2\r\n");
    EXPECT_EQ(patched("名前: 🇭🇰 香港\n", {key("名前")}, "東京"), "名前: 東京\n");
    // A multi-line plain scalar is replaced whole.
    EXPECT_EQ(patched("a: one\n  two\nb: 3\n", {key("a")}, "x"), "a: x\nb: 3\n");
    // A value shared through an alias is patched at its anchor.
    EXPECT_EQ(patched("base: &p 7890\nport: *p\n", {key("port")}, "7891"), "base: &p 7891\nport: *p\n");
    // An alias may share a key's scalar: patching through it changes the key (found by fuzzing).
    EXPECT_EQ(
        patched("!str &a1 \"foo\":\n ~ !!str &a2 baz : *a1\n", {key("foo"), key("~ !!str &a2 baz")}, "x"),
        "!str &a1 \"x\":\n ~ !!str &a2 baz : *a1\n");
    EXPECT_EQ(patched("!)~r &a1 \"\": *a1\n!)~r &a1 \"\": *a1\n", {key("")}, "x"),
              "!)~r &a1 \"x\": *a1\n!)~r &a1 \"\": *a1\n");
    // A byte-order mark stays in front of the text.
    EXPECT_EQ(patched(QStringLiteral("\uFEFFport: 1\n"), {key("port")}, "2"),
              QStringLiteral("\uFEFFport: 2\n"));
    // The root itself, and the byte form of the interface.
    EXPECT_EQ(patched("--- 'solo'\n", {}, "x"), "--- 'x'\n");
    EXPECT_EQ(YamlPatcher::patch(QByteArrayView("a: [1, 2]\n"), {key("a"), index(1)}, "3"),
              QByteArray("a: [1, 3]\n"));
}

TEST(YamlPatcherTest, ReportsWhyNothingWasPatched)
{
    const QString yaml = "a:\n  b: [1, 2, 3]\n  c: {d: e}\nempty:\n";
    EXPECT_EQ(patchError(yaml, {key("a"), key("c")}),
              "Target at path is not a scalar: [key(\"a\"), key(\"c\")]");
    EXPECT_EQ(patchError(yaml, {key("a"), key("b"), index(5)}), "Index 5 out of bounds (count=3) at depth 2");
    EXPECT_EQ(patchError(yaml, {key("a"), key("b"), index(-1)}),
              "Index -1 out of bounds (count=3) at depth 2");
    EXPECT_EQ(patchError(yaml, {key("a"), key("x")}), "Key 'x' not found at depth 1");
    EXPECT_EQ(patchError(yaml, {index(0)}), "Expected sequence at depth 0");
    EXPECT_EQ(patchError(yaml, {key("a"), key("b"), key("c")}), "Expected mapping at depth 2");
    EXPECT_EQ(patchError(yaml, {key("empty")}), "Target scalar has no position info: [key(\"empty\")]");
    // Block scalars are refused, naming where they are.
    EXPECT_EQ(
        patchError("k: | # keep\n  text\nz: 1\n", {key("k")}),
        QStringLiteral("Target at path is a literal block scalar at 1:4, which is not patched in place: "
                       "[key(\"k\")]"));
    EXPECT_EQ(patchError("l:\n  - a\n  - >-\n    folded\n", {key("l"), index(1)}),
              QStringLiteral("Target at path is a folded block scalar at 3:5, which is not patched in place: "
                             "[key(\"l\"), index(1)]"));
    EXPECT_EQ(patchError("# nothing here\n", {key("a")}), "Target not found at path: [key(\"a\")]");
    // YAML errors pass through unchanged.
    EXPECT_EQ(patchError("a: [1,\n", {key("a")}), "1:4: scanner error: unterminated flow sequence");
}
