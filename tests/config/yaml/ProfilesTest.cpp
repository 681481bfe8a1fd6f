// The real published profiles of ../shared/testdata/profiles (see its SOURCES.md): the valid ones compose
// to what their sources say they hold, every one of their scalars can be patched without touching any
// other byte, and the two invalid ones fail where the defect is.

#include "YamlTestSupport.h"
#include "config/yaml/YamlPatcher.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

QString profilePath(const QString& name)
{
    return test::sharedTestData() + "/profiles/" + name;
}

QByteArray readProfile(const QString& name)
{
    QFile file(profilePath(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

const QStringList invalidProfiles = {"mfuu-proxies-only-invalid-quoting.yaml", "mihomo-docs-config.yaml"};

QStringList validProfiles()
{
    QStringList names =
        QDir(test::sharedTestData() + "/profiles").entryList({"*.yaml", "*.yml"}, QDir::Files, QDir::Name);
    for (const QString& invalid : invalidProfiles)
        names.removeAll(invalid);
    return names;
}

struct Target
{
    QList<YamlPathSegment> path;
    Node::Scalar scalar;
};

// Every value scalar, with its path.
void collectTargets(const Node& node, QList<YamlPathSegment>& path, std::vector<Target>& targets)
{
    if (const auto scalar = node.scalar()) {
        targets.push_back(Target{path, *scalar});
    } else if (const auto sequence = node.sequence()) {
        for (qsizetype i = 0; i < sequence->count(); ++i) {
            path.append(YamlPathSegment::index(i));
            collectTargets((*sequence)[i], path, targets);
            path.removeLast();
        }
    } else {
        QSet<QString> seen;
        const auto mapping = node.mapping();
        for (const Node::Pair& pair : *mapping) {
            const auto key = pair.key.scalar();
            // A path reaches the first pair of a key only.
            if (!key || seen.contains(key->string()) || key->string() == QLatin1String("<<"))
                continue;
            seen.insert(key->string());
            path.append(YamlPathSegment::key(key->string()));
            collectTargets(pair.value, path, targets);
            path.removeLast();
        }
    }
}

// The node at a path, as the patcher walks it.
Node nodeAt(const Node& root, const QList<YamlPathSegment>& path)
{
    Node node = root;
    for (const YamlPathSegment& segment : path)
        node = segment.kind() == YamlPathSegment::Kind::key ? *node.mapping()->value(segment.keyText())
                                                            : (*node.sequence())[segment.indexValue()];
    return node;
}

qsizetype count(const NativeValue& root, const char* key)
{
    return qsizetype(root.value(QString::fromUtf8(key)).toArray().size());
}

} // namespace

TEST(ProfilesTest, ValidProfilesComposeToTheirContent)
{
    ASSERT_EQ(validProfiles().size(), 11);
    QHash<QString, NativeValue> roots;
    for (const QString& name : validProfiles()) {
        try {
            const auto root = Parser::compose(QByteArrayView(readProfile(name)));
            ASSERT_TRUE(root && root->isMapping()) << name.toStdString();
            roots.insert(name, NativeValue(*root->toNativeDictionary()));
        } catch (const Error& error) {
            ADD_FAILURE() << name.toStdString() << ": " << error.description().toStdString();
        }
    }
    const NativeValue& aiboboxx = roots["aiboboxx-clashfree-subscription.yml"];
    EXPECT_EQ(count(aiboboxx, "proxies"), 40);
    EXPECT_EQ(count(aiboboxx, "proxy-groups"), 13);
    EXPECT_EQ(count(aiboboxx, "rules"), 10237);
    const auto hongKong = [](const NativeValue& proxy) {
        return proxy.value("name").toString().startsWith("🇭🇰 香港");
    };
    EXPECT_TRUE(std::any_of(aiboboxx.value("proxies").toArray().begin(),
                            aiboboxx.value("proxies").toArray().end(), hongKong));
    const NativeValue& big = roots["snakem982-large-2794-proxies.yaml"];
    EXPECT_EQ(count(big, "proxies"), 2794);
    EXPECT_EQ(count(big, "rules"), 10291);
    const NativeValue& pyyaml = roots["snakem982-large-66k-rules-pyyaml.yaml"];
    EXPECT_EQ(count(pyyaml, "proxies"), 130);
    EXPECT_EQ(count(pyyaml, "proxy-groups"), 17);
    EXPECT_EQ(count(pyyaml, "rules"), 66454);
    EXPECT_EQ(count(roots["loyalsoldier-direct-payload.yaml"], "payload"), 117172);
    EXPECT_EQ(count(roots["lhie1-classical-payload.yaml"], "payload"), 720);
    EXPECT_EQ(count(roots["vxiaov-provider-json-style.yaml"], "proxies"), 28);
    EXPECT_EQ(count(roots["lanlan-providers-healthcheck-dq-escapes.yaml"], "rules"), 96);
    // Merged provider templates: the explicit url wins, the template fills the rest.
    const NativeValue& echs = roots["echs-top-anchors-merge-subrules.yaml"];
    for (const auto& [providerName, provider] : echs.value("proxy-providers").toDictionary()) {
        EXPECT_TRUE(provider.value("url").isString()) << providerName.toStdString();
        EXPECT_TRUE(provider.value("health-check").isDictionary()) << providerName.toStdString();
    }
}

TEST(ProfilesTest, PatchingChangesNoOtherByte)
{
    const QString newValue = "patched ✓ 'value' \"x\"";
    for (const QString& name : validProfiles()) {
        const QByteArray original = readProfile(name);
        const Node root = *Parser::compose(QByteArrayView(original));
        std::vector<Target> targets;
        QList<YamlPathSegment> path;
        collectTargets(root, path, targets);
        // Scalars spread over the file (fewer in the large ones), and every block scalar, which is refused
        // with the input untouched; the empty value of a key has no position.
        std::erase_if(targets, [](const Target& target) { return !target.scalar.mark(); });
        const size_t samples = original.size() > 1'000'000 ? 4 : 12;
        ASSERT_GE(targets.size(), samples) << name.toStdString();
        std::vector<const Target*> chosen;
        for (size_t i = 0; i < targets.size(); ++i) {
            const ScalarStyle style = targets[i].scalar.style();
            if (style == ScalarStyle::literal || style == ScalarStyle::folded ||
                i % ((targets.size() - 1) / (samples - 1)) == 0)
                chosen.push_back(&targets[i]);
        }
        for (const Target* target : chosen) {
            const ScalarStyle style = target->scalar.style();
            const std::string where =
                name.toStdString() + " at " + target->scalar.mark()->toString().toStdString();
            if (style == ScalarStyle::literal || style == ScalarStyle::folded) {
                EXPECT_THROW(YamlPatcher::patch(QByteArrayView(original), target->path, newValue),
                             YamlPatchError)
                    << where;
                continue;
            }
            const QString value = style == ScalarStyle::plain ? "patched ✓ value" : newValue;
            const QByteArray patched = YamlPatcher::patch(QByteArrayView(original), target->path, value);
            const qsizetype start = target->scalar.mark()->utf8Offset;
            const qsizetype end = target->scalar.endMark()->utf8Offset;
            EXPECT_TRUE(patched.startsWith(original.first(start))) << where;
            EXPECT_TRUE(patched.endsWith(original.sliced(end))) << where;
            const auto reread = Parser::compose(QByteArrayView(patched));
            ASSERT_TRUE(reread) << where;
            EXPECT_EQ(nodeAt(*reread, target->path).toNative(), NativeValue(value)) << where;
        }
    }
}

TEST(ProfilesTest, InvalidProfilesFailWhereTheDefectIs)
{
    const QStringList expected = {"23:17: parser error: unexpected token in flow: a scalar",
                                  "64:7: scanner error: empty alias name"};
    for (int i = 0; i < invalidProfiles.size(); ++i) {
        const QByteArray bytes = readProfile(invalidProfiles[i]);
        EXPECT_EQ(test::yamlError(bytes), expected[i]);
        EXPECT_EQ(test::errorText<YAMLError>([&] {
                      YamlPatcher::patch(QByteArrayView(bytes), {YamlPathSegment::key("proxies")}, "x");
                  }),
                  expected[i]);
    }
}
