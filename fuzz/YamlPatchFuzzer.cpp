// The patcher over arbitrary documents: the first input byte picks a scalar of the first document, and
// patching it must leave every byte outside that scalar unchanged. A quoted scalar patched with a
// printable one-line text must read back as exactly that text.

#include "config/yaml/Parser.h"
#include "config/yaml/YAMLError.h"
#include "config/yaml/YamlPatcher.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

using namespace tarnwick;

namespace {

struct Target
{
    QList<YamlPathSegment> path;
    Node::Scalar scalar;
};

void collect(const Node& node, QList<YamlPathSegment>& path, std::vector<Target>& targets,
             std::set<qint64>& keys)
{
    if (targets.size() >= 256)
        return;
    if (const auto scalar = node.scalar()) {
        targets.push_back(Target{path, *scalar});
    } else if (const auto sequence = node.sequence()) {
        for (qsizetype i = 0; i < sequence->count(); ++i) {
            path.append(YamlPathSegment::index(i));
            collect((*sequence)[i], path, targets, keys);
            path.removeLast();
        }
    } else {
        const auto mapping = node.mapping();
        for (const Node::Pair& pair : *mapping) {
            const auto key = pair.key.scalar();
            if (key && key->mark())
                keys.insert(key->mark()->utf8Offset);
            // The patcher finds the first pair of a key: only those are reachable.
            const auto first = key ? mapping->value(key->string()) : std::nullopt;
            if (!first || first->mark() != pair.value.mark())
                continue;
            path.append(YamlPathSegment::key(key->string()));
            collect(pair.value, path, targets, keys);
            path.removeLast();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const QByteArrayView yaml(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    std::optional<Node> root;
    try {
        root = Parser::compose(yaml);
    } catch (const YAMLError&) {
        return 0;
    }
    if (!root)
        return 0;
    std::vector<Target> targets;
    QList<YamlPathSegment> path;
    std::set<qint64> keys;
    collect(*root, path, targets, keys);
    if (targets.empty())
        return 0;
    const Target& target = targets[data[0] % targets.size()];
    const QString value = QStringLiteral("it's \"new\" \\ value");
    QByteArray patched;
    try {
        patched = YamlPatcher::patch(yaml, target.path, value);
    } catch (const YamlPatchError& error) {
        if (error.kind() != YamlPatchError::Kind::missingPositionInfo || target.scalar.mark())
            std::abort();
        return 0;
    }
    const auto mark = target.scalar.mark();
    const auto endMark = target.scalar.endMark();
    if (!mark || !endMark)
        std::abort();
    const ScalarStyle style = target.scalar.style();
    const qsizetype start = mark->utf8Offset;
    const qsizetype end = style == ScalarStyle::literal || style == ScalarStyle::folded
                              ? yaml.indexOf('\n', start) < 0 ? yaml.size() : yaml.indexOf('\n', start)
                              : endMark->utf8Offset;
    if (!patched.startsWith(yaml.first(start)) || !patched.endsWith(yaml.sliced(std::min(end, yaml.size()))))
        std::abort();
    // A key's scalar reached through an alias changes the key, and with it what the path finds.
    const bool isKey = keys.contains(start);
    if (!isKey && (style == ScalarStyle::singleQuoted || style == ScalarStyle::doubleQuoted)) {
        std::optional<Node> reread;
        try {
            reread = Parser::compose(QByteArrayView(patched));
        } catch (const YAMLError&) {
            std::abort();
        }
        std::optional<Node> node = reread;
        for (const YamlPathSegment& segment : target.path) {
            if (!node)
                return 0;
            if (segment.kind() == YamlPathSegment::Kind::key) {
                const auto mapping = node->mapping();
                node = mapping ? mapping->value(segment.keyText()) : std::nullopt;
            } else {
                const auto sequence = node->sequence();
                node = sequence && segment.indexValue() < sequence->count()
                           ? std::optional<Node>((*sequence)[segment.indexValue()])
                           : std::nullopt;
            }
        }
        if (node && (!node->scalar() || node->scalar()->string() != value))
            std::abort();
    }
    return 0;
}
