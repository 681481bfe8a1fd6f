#include "ConfigCompiler.h"

#include "AtomicFile.h"
#include "EngineSettings.h"
#include "config/yaml/Parser.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarnwick {

namespace {

QString describeCompilation(CompilationError::Kind kind)
{
    switch (kind) {
    case CompilationError::Kind::EmptyConfig:
        return QStringLiteral("Subscription YAML is empty or contains only comments.");
    case CompilationError::Kind::InvalidRootNode:
        break;
    }
    return QStringLiteral("Subscription YAML root is not a mapping (expected key-value pairs).");
}

QString providerName(const QString& filePath)
{
    return QFileInfo(filePath).completeBaseName();
}

bool blocksQuicAlready(const NativeValue& rule)
{
    if (!rule.isString())
        return false;
    QString compact = rule.toString();
    compact.remove(u' ');
    return compact.contains(QLatin1String("DST-PORT,443")) &&
           compact.contains(QLatin1String("NETWORK,UDP")) && compact.contains(QLatin1String("REJECT"));
}

void prependQuicBlock(NativeValue::Dictionary& config, const QString& mode)
{
    const QString rule = mode == QLatin1String("all")        ? ConfigCompiler::quicBlockAllRule
                         : mode == QLatin1String("overseas") ? ConfigCompiler::quicBlockOverseasRule
                                                             : QString();
    if (rule.isEmpty())
        return;
    // A "rules" value that is not a list counts as no rules.
    NativeValue::Array& rules = config[QStringLiteral("rules")].array();
    if (std::any_of(rules.begin(), rules.end(), blocksQuicAlready))
        return;
    rules.insert(rules.begin(), NativeValue(rule));
}

void mountSubscriptions(NativeValue::Dictionary& config, const ConfigCompiler::MountedSubscriptions& mounted)
{
    NativeValue::Dictionary& providers = config[QStringLiteral("proxy-providers")].dictionary();
    for (auto it = mounted.begin(); it != mounted.end(); ++it) {
        const QString name = providerName(it.key());
        if (name.isEmpty())
            continue;
        NativeValue::Dictionary provider{
            {QStringLiteral("path"), QStringLiteral("./providers/") + name + QStringLiteral(".yaml")},
            {QStringLiteral("health-check"),
             NativeValue::Dictionary{{QStringLiteral("enable"), true},
                                     {QStringLiteral("url"), ConfigCompiler::healthCheckUrl},
                                     {QStringLiteral("interval"), 600}}},
        };
        if (it.value().isEmpty()) {
            provider.emplace(QStringLiteral("type"), "file");
        } else {
            // The kernel refreshes an http provider itself; the staged copy makes it usable at once.
            provider.emplace(QStringLiteral("type"), "http");
            provider.emplace(QStringLiteral("url"), it.value());
            provider.emplace(QStringLiteral("interval"), 86400);
        }
        providers.insert_or_assign(name, NativeValue(std::move(provider)));
    }
}

void stageSubscriptions(const QString& targetPath, const ConfigCompiler::MountedSubscriptions& mounted)
{
    const QString directory = QFileInfo(targetPath).absoluteDir().filePath(QStringLiteral("providers"));
    if (!QDir().mkpath(directory)) {
        qCWarning(lcProfiles, "Could not create %s for mounted subscriptions", qUtf8Printable(directory));
        return;
    }
    for (auto it = mounted.begin(); it != mounted.end(); ++it) {
        const QString name = providerName(it.key());
        if (name.isEmpty())
            continue;
        const QString staged = QDir(directory).filePath(name + QStringLiteral(".yaml"));
        QFile::remove(staged);
        if (QFileInfo::exists(it.key()) && !QFile::copy(it.key(), staged))
            qCWarning(lcProfiles, "Could not stage %s as %s", qUtf8Printable(it.key()),
                      qUtf8Printable(staged));
    }
}

} // namespace

CompilationError::CompilationError(Kind kind) : Error(describeCompilation(kind)), m_kind(kind) {}

namespace ConfigCompiler {

NativeValue::Dictionary assemble(NativeValue::Dictionary profile, NativeValue::Dictionary overrides,
                                 const MountedSubscriptions& mountedSubscriptions)
{
    NativeValue::Dictionary config = std::move(overrides);
    QString quicBlockMode = QStringLiteral("off");
    if (const auto mode = config.take(EngineSettings::quicBlockModeKey); mode && mode->isString())
        quicBlockMode = mode->toString();

    for (const QString& key : profileOwnedKeys) {
        auto entry = profile.take(key);
        if (!entry)
            continue;
        if (entry->isString() && entry->stringView().isEmpty())
            continue;
        config.insert_or_assign(key, *std::move(entry));
    }
    prependQuicBlock(config, quicBlockMode);
    if (!mountedSubscriptions.isEmpty())
        mountSubscriptions(config, mountedSubscriptions);
    return config;
}

QByteArray compile(const QString& sourcePath, NativeValue::Dictionary overrides,
                   const MountedSubscriptions& mountedSubscriptions)
{
    const QByteArray yaml = AtomicFile::read(sourcePath);
    std::optional<Node> root = Parser::compose(QByteArrayView(yaml), Parser::defaultMaxDepth);
    if (!root)
        throw CompilationError(CompilationError::Kind::EmptyConfig);
    std::optional<NativeValue::Dictionary> profile = root->toNativeDictionary();
    // The tree is no longer needed: free it before the plain values are serialised, lowering peak memory.
    root.reset();
    if (!profile)
        throw CompilationError(CompilationError::Kind::InvalidRootNode);
    NativeValue config(assemble(*std::move(profile), std::move(overrides), mountedSubscriptions));
    return config.toJson(NativeValue::JsonFormat::Pretty);
}

void compileAndWrite(const QString& sourcePath, const QString& targetPath, NativeValue::Dictionary overrides,
                     const MountedSubscriptions& mountedSubscriptions)
{
    const QByteArray json = compile(sourcePath, std::move(overrides), mountedSubscriptions);
    AtomicFile::write(targetPath, json);
    if (!mountedSubscriptions.isEmpty())
        stageSubscriptions(targetPath, mountedSubscriptions);
}

} // namespace ConfigCompiler
} // namespace tarnwick
