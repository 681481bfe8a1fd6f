#include "AppCommandHandler.h"

#include "AppCommandGroups.h"
#include "AppState.h"
#include "config/ConfigCompiler.h"
#include "config/ProfileStore.h"
#include "config/RuleStore.h"
#include "controller/OutboundMode.h"
#include "platform/Logging.h"
#include "platform/Settings.h"
#include "runtime/RuntimeChannel.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace tarnwick {

namespace {

using Handler = AppCommandGroups::Function;

const AppResponse kGone = AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));

QString jsonText(const QJsonArray& list)
{
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

bool kernelRunning(const AppState& state)
{
    return state.kernelStatus().isRunningOrStarting();
}

// The proxy providers of the profile; the kernel also lists one compatibility provider per group.
QList<ProxyProvider> userProviders(QList<ProxyProvider> providers)
{
    providers.removeIf([](const ProxyProvider& provider) {
        return provider.vehicleType.compare(QLatin1String("Compatible"), Qt::CaseInsensitive) == 0;
    });
    return providers;
}

QCoro::Task<AppResponse> getProfiles(QPointer<AppState> state, AppCommand)
{
    QStringList names;
    QStringList fileNames;
    for (const ProfileNode& node : state->profileNodes()) {
        names.append(node.name);
        fileNames.append(node.fileName);
    }
    co_return AppResponse::ok({{QStringLiteral("profiles"), names.join(u'\n')},
                               {QStringLiteral("fileNames"), fileNames.join(u'\n')},
                               {QStringLiteral("active"), state->activeProfileName().value_or(QString())}});
}

QCoro::Task<AppResponse> switchProfile(QPointer<AppState> state, AppCommand command)
{
    const QString name = command.text("name");
    const QList<ProfileNode>& nodes = state->profileNodes();
    const auto node = std::find_if(nodes.cbegin(), nodes.cend(), [&](const ProfileNode& candidate) {
        return candidate.name == name || candidate.fileName == name;
    });
    if (node == nodes.cend())
        co_return AppResponse::failure(QStringLiteral("Profile not found: ") + name);
    const ProfileNode profile = *node;
    co_await state->switchProfile(profile);
    if (!state)
        co_return kGone;
    if (!kernelRunning(*state))
        co_return AppResponse::failure(QStringLiteral("Kernel failed to start after switch"));
    co_return AppResponse::ok(
        {{QStringLiteral("profile"), profile.name}, {QStringLiteral("fileName"), profile.fileName}});
}

QCoro::Task<AppResponse> restartKernel(QPointer<AppState> state, AppCommand)
{
    co_await state->restartKernel();
    if (!state)
        co_return kGone;
    if (!kernelRunning(*state))
        co_return AppResponse::failure(QStringLiteral("Kernel failed to restart"));
    co_return AppResponse::okWithoutData();
}

QCoro::Task<AppResponse> getStatus(QPointer<AppState> state, AppCommand)
{
    OutboundMode mode = OutboundMode::rule;
    qsizetype groups = 0;
    qsizetype providers = 0;
    const bool running = kernelRunning(*state);
    if (running) {
        // A kernel still starting may not answer yet; its counts are then zero.
        const MihomoClient client = state->client();
        try {
            mode = co_await client.currentMode();
            groups = (co_await client.proxyGroups()).size();
            providers = userProviders(co_await client.proxyProviders()).size();
        } catch (const std::exception& error) {
            qCDebug(lcIPC, "Status without the kernel's answer: %s", qUtf8Printable(describe(error)));
        }
        if (!state)
            co_return kGone;
    }
    co_return AppResponse::ok({
        {QStringLiteral("mode"), rawValue(mode)},
        {QStringLiteral("profile"), state->activeProfileName().value_or(QStringLiteral("-"))},
        {QStringLiteral("groups"), QString::number(groups)},
        {QStringLiteral("providers"), QString::number(providers)},
        {QStringLiteral("kernel"), running ? QStringLiteral("running") : QStringLiteral("stopped")},
        {QStringLiteral("version"), state->mihomoVersion().value_or(QStringLiteral("-"))},
    });
}

QCoro::Task<AppResponse> getProviders(QPointer<AppState> state, AppCommand)
{
    QJsonArray list;
    if (kernelRunning(*state)) {
        const MihomoClient client = state->client();
        for (const ProxyProvider& provider : userProviders(co_await client.proxyProviders())) {
            const auto alive =
                std::count_if(provider.proxies.cbegin(), provider.proxies.cend(),
                              [](const ProxyNode& node) { return node.delay.value_or(0) > 0; });
            list.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("proxy")},
                                    {QStringLiteral("name"), provider.name},
                                    {QStringLiteral("type"), provider.vehicleType},
                                    {QStringLiteral("total"), provider.proxies.size()},
                                    {QStringLiteral("alive"), qint64(alive)},
                                    {QStringLiteral("updatedAt"), provider.updatedAt}});
        }
        for (const RuleProviderItem& provider : co_await client.ruleProviders()) {
            list.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("rule")},
                                    {QStringLiteral("name"), provider.name},
                                    {QStringLiteral("type"), provider.vehicleType},
                                    {QStringLiteral("ruleCount"), provider.ruleCount},
                                    {QStringLiteral("behavior"), provider.behavior},
                                    {QStringLiteral("updatedAt"), provider.updatedAt}});
        }
    }
    co_return AppResponse::ok({{QStringLiteral("json"), jsonText(list)}});
}

QCoro::Task<AppResponse> healthCheck(QPointer<AppState> state, AppCommand)
{
    if (!kernelRunning(*state))
        co_return AppResponse::failure(QStringLiteral("Kernel is not running"));
    const MihomoClient client = state->client();
    QJsonArray results;
    for (const ProxyGroup& group : co_await client.proxyGroups()) {
        if (group.isHidden)
            continue;
        QMap<QString, qint64> delays;
        try {
            delays = co_await client.testGroupDelay(group.name, group.testURL,
                                                    AppCommandHandler::healthCheckTimeoutMs);
        } catch (const std::exception& error) {
            qCInfo(lcIPC, "Health check of %s failed: %s", qUtf8Printable(group.name),
                   qUtf8Printable(describe(error)));
        }
        qint64 alive = 0;
        QString fastest = QStringLiteral("-");
        qint64 fastestDelay = -1;
        for (const ProxyNode& member : group.proxies) {
            const qint64 delay = delays.value(member.name, 0);
            if (delay <= 0)
                continue;
            ++alive;
            if (fastestDelay < 0 || delay < fastestDelay) {
                fastest = member.name;
                fastestDelay = delay;
            }
        }
        results.append(QJsonObject{{QStringLiteral("group"), group.name},
                                   {QStringLiteral("total"), group.proxies.size()},
                                   {QStringLiteral("alive"), alive},
                                   {QStringLiteral("fastest"), fastest},
                                   {QStringLiteral("fastestDelay"), fastestDelay}});
    }
    co_return AppResponse::ok({{QStringLiteral("json"), jsonText(results)}});
}

QCoro::Task<AppResponse> checkKernelUpdate(QPointer<AppState> state, AppCommand)
{
    RuntimeManager& runtime = state->runtimeManager();
    const QString current = runtime.activeVersion().value_or(QStringLiteral("Installed"));
    co_await runtime.checkForUpdates(current);
    if (!state)
        co_return kGone;
    const QString latest = runtime.latestRemoteVersion().value_or(QStringLiteral("-"));
    const RuntimeChannel channel = current == QLatin1String("Installed")
                                       ? runtime.currentChannel()
                                       : RuntimeManager::inferChannel(current);
    const bool hasUpdate =
        current != QLatin1String("Installed") && latest != QLatin1String("-") && current != latest;
    co_return AppResponse::ok(
        {{QStringLiteral("current"), current},
         {QStringLiteral("latest"), latest},
         {QStringLiteral("channel"), rawValue(channel)},
         {QStringLiteral("hasUpdate"), hasUpdate ? QStringLiteral("true") : QStringLiteral("false")}});
}

QCoro::Task<AppResponse> upgradeKernel(QPointer<AppState> state, AppCommand command)
{
    const std::optional<RuntimeChannel> channel = runtimeChannelFromRawValue(command.text("channel"));
    if (!channel)
        co_return AppResponse::failure(
            QStringLiteral("Unknown kernel channel \"%1\" (stable, alpha or smart)")
                .arg(command.text("channel")));
    RuntimeManager& runtime = state->runtimeManager();
    co_await runtime.installOrUpdate(*channel);
    if (!state)
        co_return kGone;
    const RuntimeState& result = runtime.state();
    // A kernel already on disk may have stayed active; the newest one was not installed all the same.
    const std::optional<RuntimeError>& cause =
        result.kind == RuntimeState::Kind::ready ? runtime.keptLocalBecause() : result.error;
    if (cause)
        co_return AppResponse::failure(QStringLiteral("Kernel installation failed: ") + cause->description());
    if (result.kind != RuntimeState::Kind::ready)
        co_return AppResponse::failure(QStringLiteral("Kernel installation failed"));
    co_return AppResponse::ok(
        {{QStringLiteral("version"), result.version}, {QStringLiteral("channel"), rawValue(*channel)}});
}

QCoro::Task<AppResponse> checkAppUpdate(QPointer<AppState> state, AppCommand)
{
    state->settings().remove(AppUpdateFlow::lastCheckKey);
    AppUpdateFlow& flow = state->updateFlow();
    co_await flow.check(false);
    if (!state)
        co_return kGone;
    const AppUpdatePhase& phase = flow.phase();
    if (phase.kind == AppUpdatePhase::Kind::failed)
        co_return AppResponse::failure(phase.text);
    if (phase.kind != AppUpdatePhase::Kind::result || !phase.result)
        co_return AppResponse::failure(QStringLiteral("Unexpected state during update check"));
    const AppUpdateResult& result = *phase.result;
    const bool available = result.kind == AppUpdateResult::Kind::available;
    co_return AppResponse::ok(
        {{QStringLiteral("hasUpdate"), available ? QStringLiteral("true") : QStringLiteral("false")},
         {QStringLiteral("version"), available ? result.latest : result.currentVersion},
         {QStringLiteral("build"), QString::number(flow.bundle().build())},
         {QStringLiteral("download"), result.downloadURL}});
}

// The update ends this process; it runs on after the response is sent.
QCoro::Task<> performUpdate(QPointer<AppUpdateFlow> flow, QString url)
{
    try {
        co_await flow->performUpdate(url);
        if (flow && flow->phase().kind == AppUpdatePhase::Kind::failed)
            qCWarning(lcIPC, "Application update failed: %s", qUtf8Printable(flow->phase().text));
    } catch (const std::exception& error) {
        qCWarning(lcIPC, "Application update failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<AppResponse> upgradeApp(QPointer<AppState> state, AppCommand)
{
    QPointer<AppUpdateFlow> flow(&state->updateFlow());
    co_await flow->check(false);
    if (!flow)
        co_return kGone;
    const AppUpdatePhase& phase = flow->phase();
    if (phase.kind != AppUpdatePhase::Kind::result || !phase.result)
        co_return AppResponse::failure(QStringLiteral("Upgrade failed with unexpected state."));
    if (phase.result->kind == AppUpdateResult::Kind::upToDate)
        co_return AppResponse::failure(QStringLiteral("App is already up to date."));
    if (phase.result->downloadURL.isEmpty())
        co_return AppResponse::failure(QStringLiteral("No update available to install."));
    performUpdate(flow, phase.result->downloadURL);
    co_return AppResponse::ok({{QStringLiteral("status"),
                                QStringLiteral("OTA update triggered successfully. App is restarting...")}});
}

QCoro::Task<AppResponse> setMode(QPointer<AppState> state, AppCommand command)
{
    const std::optional<OutboundMode> mode = outboundModeFromRaw(command.text("mode"));
    if (!mode)
        co_return AppResponse::failure(
            QStringLiteral("Unknown mode \"%1\" (rule, global or direct)").arg(command.text("mode")));
    if (!kernelRunning(*state))
        co_return AppResponse::failure(QStringLiteral("Kernel is not running"));
    const MihomoClient client = state->client();
    co_await client.setMode(*mode);
    co_return AppResponse::ok({{QStringLiteral("mode"), rawValue(*mode)}});
}

QCoro::Task<AppResponse> startKernel(QPointer<AppState> state, AppCommand)
{
    co_await state->startKernel();
    if (!state)
        co_return kGone;
    if (!kernelRunning(*state))
        co_return AppResponse::failure(QStringLiteral("Kernel failed to start"));
    co_return AppResponse::okWithoutData();
}

QCoro::Task<AppResponse> stopKernel(QPointer<AppState> state, AppCommand)
{
    co_await state->stopKernel();
    co_return AppResponse::okWithoutData();
}

QCoro::Task<AppResponse> showWindow(QPointer<AppState> state, AppCommand command)
{
    if (const std::optional<qint64> pid = command.integer("pid");
        pid && *pid != QCoreApplication::applicationPid())
        co_return AppResponse::failure(QStringLiteral("This is Tarnwick with PID %1, not %2")
                                           .arg(QCoreApplication::applicationPid())
                                           .arg(*pid));
    if (!state->showMainWindow())
        co_return AppResponse::failure(QStringLiteral("Tarnwick runs without windows"));
    qCInfo(lcAppState, "Main window brought forward for another launch");
    co_return AppResponse::okWithoutData();
}

// The active profile's file; throws when there is none.
QString activeProfileFile(const AppState& state)
{
    const std::optional<QString>& active = state.activeProfileName();
    const QList<ProfileNode>& nodes = state.profileNodes();
    const auto node = std::find_if(nodes.cbegin(), nodes.cend(), [&](const ProfileNode& candidate) {
        return active && candidate.name == *active;
    });
    if (node == nodes.cend())
        throw Error(QStringLiteral("No active profile: switch to one first"));
    return state.paths().profilesDirectory() + node->fileName;
}

// How many rules the compiler put before the profile's own in the running configuration.
int rulesBeforeProfile(const AppState& state)
{
    QFile file(state.paths().runtimeConfigFile());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QJsonArray rules =
        QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("rules")).toArray();
    const QString first = rules.isEmpty() ? QString() : rules.first().toString();
    return first == ConfigCompiler::quicBlockAllRule || first == ConfigCompiler::quicBlockOverseasRule ? 1
                                                                                                       : 0;
}

QCoro::Task<AppResponse> getRules(QPointer<AppState> state, AppCommand)
{
    const QList<RuleEntry> entries = RuleStore::listRules(activeProfileFile(*state));
    // The kernel numbers only the enabled rules, after the compiler's own.
    QMap<int, qint64> hits;
    int offset = 0;
    if (kernelRunning(*state)) {
        offset = rulesBeforeProfile(*state);
        const MihomoClient client = state->client();
        try {
            hits = co_await client.ruleHitCounts();
        } catch (const std::exception& error) {
            qCDebug(lcIPC, "Rules without hit counts: %s", qUtf8Printable(describe(error)));
        }
    }
    QJsonArray list;
    int kernelIndex = offset;
    for (const RuleEntry& entry : entries) {
        QJsonObject rule{{QStringLiteral("index"), entry.index},
                         {QStringLiteral("enabled"), entry.enabled},
                         {QStringLiteral("rule"), entry.text}};
        if (entry.enabled)
            rule.insert(QStringLiteral("hits"), hits.value(kernelIndex++, 0));
        list.append(rule);
    }
    co_return AppResponse::ok({{QStringLiteral("json"), jsonText(list)}});
}

// After an edit of the active profile the running kernel takes it up at once.
QCoro::Task<AppResponse> afterRuleEdit(QPointer<AppState> state)
{
    const bool reload = kernelRunning(*state);
    if (reload)
        co_await state->reloadRuntimeConfiguration();
    co_return AppResponse::ok(
        {{QStringLiteral("reloaded"), reload ? QStringLiteral("true") : QStringLiteral("false")}});
}

QCoro::Task<AppResponse> insertRule(QPointer<AppState> state, AppCommand command)
{
    const QString file = activeProfileFile(*state);
    const qsizetype at = command.has("index") ? *command.integer("index") : RuleStore::listRules(file).size();
    RuleStore::insertRule(command.text("rule"), at, file);
    co_return co_await afterRuleEdit(state);
}

QCoro::Task<AppResponse> updateRule(QPointer<AppState> state, AppCommand command)
{
    RuleStore::updateRule(*command.integer("index"), command.text("rule"), activeProfileFile(*state));
    co_return co_await afterRuleEdit(state);
}

QCoro::Task<AppResponse> deleteRule(QPointer<AppState> state, AppCommand command)
{
    RuleStore::deleteRule(*command.integer("index"), activeProfileFile(*state));
    co_return co_await afterRuleEdit(state);
}

QCoro::Task<AppResponse> toggleRule(QPointer<AppState> state, AppCommand command)
{
    RuleStore::toggleRule(*command.integer("index"), activeProfileFile(*state));
    co_return co_await afterRuleEdit(state);
}

QCoro::Task<AppResponse> swapRules(QPointer<AppState> state, AppCommand command)
{
    RuleStore::swapRules(*command.integer("index"), *command.integer("with"), activeProfileFile(*state));
    co_return co_await afterRuleEdit(state);
}

const QHash<QString, Handler>& handlers()
{
    static const QHash<QString, Handler> all = [] {
        QHash<QString, Handler> table{
            {QStringLiteral("getProfiles"), getProfiles},
            {QStringLiteral("switchProfile"), switchProfile},
            {QStringLiteral("restartKernel"), restartKernel},
            {QStringLiteral("getStatus"), getStatus},
            {QStringLiteral("getProviders"), getProviders},
            {QStringLiteral("healthCheck"), healthCheck},
            {QStringLiteral("checkKernelUpdate"), checkKernelUpdate},
            {QStringLiteral("upgradeKernel"), upgradeKernel},
            {QStringLiteral("checkAppUpdate"), checkAppUpdate},
            {QStringLiteral("upgradeApp"), upgradeApp},
            {QStringLiteral("setMode"), setMode},
            {QStringLiteral("startKernel"), startKernel},
            {QStringLiteral("stopKernel"), stopKernel},
            {QStringLiteral("getRules"), getRules},
            {QStringLiteral("insertRule"), insertRule},
            {QStringLiteral("updateRule"), updateRule},
            {QStringLiteral("deleteRule"), deleteRule},
            {QStringLiteral("toggleRule"), toggleRule},
            {QStringLiteral("swapRules"), swapRules},
            {QStringLiteral("showWindow"), showWindow},
        };
        table.insert(AppCommandGroups::profileCommands());
        table.insert(AppCommandGroups::settingsCommands());
        table.insert(AppCommandGroups::liveCommands());
        return table;
    }();
    return all;
}

} // namespace

QCoro::Task<AppResponse> AppCommandHandler::answer(QPointer<AppState> state, AppCommand command)
{
    if (!state)
        co_return kGone;
    const Handler handler = handlers().value(command.name());
    if (!handler)
        co_return AppResponse::failure(QStringLiteral("Unknown command: ") + command.name());
    try {
        co_return co_await handler(state, std::move(command));
    } catch (const std::exception& error) {
        co_return AppResponse::failure(describe(error));
    }
}

} // namespace tarnwick
