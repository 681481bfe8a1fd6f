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
    return test::errorText([&] { YamlPatcher::patch(yaml, path, QStringLiteral("x")); });
}

} // namespace

TEST(YamlPatcherTest, ReplacesOnlyTheScalar)
{
    // Comments, the blanks before them and every other line stay as written.
    EXPECT_EQ(patched(QStringLiteral("# head\nmixed-port: 7890   # the port\nmode: rule\n"),
                      {key("mixed-port")}, QStringLiteral("7891")),
              QStringLiteral("# head\nmixed-port: 7891   # the port\nmode: rule\n"));
    // Each scalar keeps its style.
    EXPECT_EQ(patched(QStringLiteral("name: 'node'\n"), {key("name")}, QStringLiteral("it's")),
              QStringLiteral("name: 'it''s'\n"));
    EXPECT_EQ(patched(QStringLiteral("p: \"a\\tb\" # c\n"), {key("p")}, QStringLiteral(R"(say "hi" \o/)")),
              QStringLiteral(R"(p: "say \"hi\" \\o/" # c)") + QLatin1Char('\n'));
    // Inside flow collections only the value changes, not the rest of the line.
    EXPECT_EQ(patched(QStringLiteral("proxies:\n  - {name: a, port: 443, type: ss}\n"),
                      {key("proxies"), index(0), key("port")}, QStringLiteral("8443")),
              QStringLiteral("proxies:\n  - {name: a, port: 8443, type: ss}\n"));
    // Offsets are bytes: non-ASCII text before the target, CR LF line ends.
    EXPECT_EQ(patched(QStringLiteral("名前: 🇭🇰 香港\r\nport: 1\r\n"), {key("port")}, QStringLiteral("2")),
              QStringLiteral("名前: 🇭🇰 香港\r\nport: 2\r\n"));
    EXPECT_EQ(patched(QStringLiteral("名前: 🇭🇰 香港\n"), {key("名前")}, QStringLiteral("東京")),
              QStringLiteral("名前: 東京\n"));
    // A multi-line plain scalar is replaced whole.
    EXPECT_EQ(patched(QStringLiteral("a: one\n  two\nb: 3\n"), {key("a")}, QStringLiteral("x")),
              QStringLiteral("a: x\nb: 3\n"));
    // A value shared through an alias is patched at its anchor.
    EXPECT_EQ(patched(QStringLiteral("base: &p 7890\nport: *p\n"), {key("port")}, QStringLiteral("7891")),
              QStringLiteral("base: &p 7891\nport: *p\n"));
    // An alias may share a key's scalar: patching through it changes the key (found by fuzzing).
    EXPECT_EQ(patched(QStringLiteral("!str &a1 \"foo\":\n ~ !!str &a2 baz : *a1\n"),
                      {key("foo"), key("~ !!str &a2 baz")}, QStringLiteral("x")),
              QStringLiteral("!str &a1 \"x\":\n ~ !!str &a2 baz : *a1\n"));
    EXPECT_EQ(
        patched(QStringLiteral("!)~r &a1 \"\": *a1\n!)~r &a1 \"\": *a1\n"), {key("")}, QStringLiteral("x")),
        QStringLiteral("!)~r &a1 \"x\": *a1\n!)~r &a1 \"\": *a1\n"));
    // A byte-order mark stays in front of the text.
    EXPECT_EQ(patched(QStringLiteral("\uFEFFport: 1\n"), {key("port")}, QStringLiteral("2")),
              QStringLiteral("\uFEFFport: 2\n"));
    // The root itself, and the byte form of the interface.
    EXPECT_EQ(patched(QStringLiteral("--- 'solo'\n"), {}, QStringLiteral("x")), QStringLiteral("--- 'x'\n"));
    EXPECT_EQ(YamlPatcher::patch(QByteArrayView("a: [1, 2]\n"), {key("a"), index(1)}, QStringLiteral("3")),
              QByteArray("a: [1, 3]\n"));
}

TEST(YamlPatcherTest, ReportsWhyNothingWasPatched)
{
    const QString yaml = QStringLiteral("a:\n  b: [1, 2, 3]\n  c: {d: e}\nempty:\n");
    EXPECT_EQ(patchError(yaml, {key("a"), key("c")}),
              QStringLiteral("Target at path is not a scalar: [key(\"a\"), key(\"c\")]"));
    EXPECT_EQ(patchError(yaml, {key("a"), key("b"), index(5)}),
              QStringLiteral("Index 5 out of bounds (count=3) at depth 2"));
    EXPECT_EQ(patchError(yaml, {key("a"), key("b"), index(-1)}),
              QStringLiteral("Index -1 out of bounds (count=3) at depth 2"));
    EXPECT_EQ(patchError(yaml, {key("a"), key("x")}), QStringLiteral("Key 'x' not found at depth 1"));
    EXPECT_EQ(patchError(yaml, {index(0)}), QStringLiteral("Expected sequence at depth 0"));
    EXPECT_EQ(patchError(yaml, {key("a"), key("b"), key("c")}),
              QStringLiteral("Expected mapping at depth 2"));
    EXPECT_EQ(patchError(yaml, {key("empty")}),
              QStringLiteral("Target scalar has no position info: [key(\"empty\")]"));
    // Block scalars are refused, naming where they are.
    EXPECT_EQ(
        patchError(QStringLiteral("k: | # keep\n  text\nz: 1\n"), {key("k")}),
        QStringLiteral("Target at path is a literal block scalar at 1:4, which is not patched in place: "
                       "[key(\"k\")]"));
    EXPECT_EQ(patchError(QStringLiteral("l:\n  - a\n  - >-\n    folded\n"), {key("l"), index(1)}),
              QStringLiteral("Target at path is a folded block scalar at 3:5, which is not patched in place: "
                             "[key(\"l\"), index(1)]"));
    EXPECT_EQ(patchError(QStringLiteral("# nothing here\n"), {key("a")}),
              QStringLiteral("Target not found at path: [key(\"a\")]"));
    // YAML errors pass through unchanged.
    EXPECT_EQ(patchError(QStringLiteral("a: [1,\n"), {key("a")}),
              QStringLiteral("1:4: scanner error: unterminated flow sequence"));
}
