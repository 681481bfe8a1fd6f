#include "AppCommandGroups.h"
#include "AppState.h"
#include "controller/ConnectionStore.h"
#include "controller/ProxyStore.h"
#include "controller/TrafficStore.h"

#include <QCoro/QCoroTimer>
#include <QJsonArray>
#include <QJsonDocument>

namespace tarnwick {

namespace {

const AppResponse kGone = AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));
const AppResponse kNotRunning = AppResponse::failure(QStringLiteral("Kernel is not running"));
// Twice as long as the readiness check may poll the controller, for the configuration applied after it.
constexpr int readinessChecks = 2 * AppState::readinessRetries;

QString jsonText(const QJsonArray& list)
{
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

bool kernelRunning(const AppState& state)
{
    return state.kernelStatus().isRunningOrStarting();
}

// A kernel that was just started answers before it has applied its configuration: the commands that read
// it wait for the application's readiness check of it. False when it is not running or never gets ready.
QCoro::Task<bool> kernelReady(QPointer<AppState> state)
{
    for (int attempt = 0; attempt < readinessChecks; ++attempt) {
        if (!state || !kernelRunning(*state))
            co_return false;
        if (state->isKernelReady())
            co_return true;
        co_await QCoro::sleepFor(AppState::readinessInterval);
    }
    co_return false;
}

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

const ProxyGroup* findGroup(const ProxyStore& store, const QString& name)
{
    const QList<ProxyGroup>& groups = store.groups();
    const auto found = std::find_if(groups.cbegin(), groups.cend(),
                                    [&](const ProxyGroup& group) { return group.name == name; });
    return found == groups.cend() ? nullptr : &*found;
}

// A group with its members; a member's delay is its last test in milliseconds, 0 when that test failed,
// -1 when it was never tested.
QJsonObject described(const ProxyStore& store, const ProxyGroup& group)
{
    QJsonArray members;
    for (const ProxyNode& member : group.proxies) {
        members.append(
            QJsonObject{{QStringLiteral("name"), member.name},
                        {QStringLiteral("type"), member.type.value_or(QString())},
                        {QStringLiteral("delay"), store.effectiveDelay(member.name).value_or(-1)}});
    }
    return {{QStringLiteral("name"), group.name},
            {QStringLiteral("type"), rawValue(group.type)},
            {QStringLiteral("now"), group.selectedProxyName.value_or(QString())},
            {QStringLiteral("hidden"), group.isHidden},
            {QStringLiteral("members"), members}};
}

QCoro::Task<AppResponse> getGroups(QPointer<AppState> state, AppCommand)
{
    if (!co_await kernelReady(state))
        co_return state ? kNotRunning : kGone;
    QPointer<ProxyStore> store(&state->proxyStore());
    co_await store->refresh();
    if (!store)
        co_return kGone;
    QJsonArray list;
    for (const ProxyGroup& group : store->groups())
        list.append(described(*store, group));
    co_return AppResponse::ok({{QStringLiteral("json"), jsonText(list)}});
}

QCoro::Task<AppResponse> selectProxy(QPointer<AppState> state, AppCommand command)
{
    if (!co_await kernelReady(state))
        co_return state ? kNotRunning : kGone;
    const QString groupName = command.text("group");
    const QString member = command.text("name");
    QPointer<ProxyStore> store(&state->proxyStore());
    co_await store->refresh();
    if (!store)
        co_return kGone;
    const ProxyGroup* group = findGroup(*store, groupName);
    if (!group)
        co_return AppResponse::failure(QStringLiteral("Group not found: ") + groupName);
    if (!isSelectable(group->type))
        co_return AppResponse::failure(QStringLiteral("%1 is a %2 group; its member is chosen by the kernel")
                                           .arg(groupName, rawValue(group->type)));
    if (std::none_of(group->proxies.cbegin(), group->proxies.cend(),
                     [&](const ProxyNode& node) { return node.name == member; }))
        co_return AppResponse::failure(QStringLiteral("%1 is not a member of %2").arg(member, groupName));
    co_await store->selectProxy(groupName, member);
    co_return AppResponse::ok({{QStringLiteral("group"), groupName}, {QStringLiteral("now"), member}});
}

// Without a group: every group the health check tests.
QCoro::Task<AppResponse> testGroup(QPointer<AppState> state, AppCommand command)
{
    if (!co_await kernelReady(state))
        co_return state ? kNotRunning : kGone;
    const QString groupName = command.text("group");
    QPointer<ProxyStore> store(&state->proxyStore());
    co_await store->refresh();
    if (!store)
        co_return kGone;
    if (command.has("group") && !findGroup(*store, groupName))
        co_return AppResponse::failure(QStringLiteral("Group not found: ") + groupName);
    if (command.has("group"))
        co_await store->testGroupDelay(groupName);
    else
        co_await store->testAllGroups();
    if (!store)
        co_return kGone;
    QJsonArray list;
    for (const ProxyGroup& group : store->groups()) {
        const bool tested = command.has("group") ? group.name == groupName
                                                 : !group.isHidden && group.name != QLatin1String("GLOBAL");
        if (tested)
            list.append(described(*store, group));
    }
    co_return AppResponse::ok({{QStringLiteral("json"), jsonText(list)}});
}

QCoro::Task<AppResponse> getConnections(QPointer<AppState> state, AppCommand)
{
    if (!co_await kernelReady(state))
        co_return state ? kNotRunning : kGone;
    // The kernel's own list, so that a connection opened a moment ago is there; the speeds come from the
    // store, which follows the stream.
    const MihomoClient client = state->client();
    const QList<ConnectionItem> connections = co_await client.connections();
    if (!state)
        co_return kGone;
    QHash<QString, const ConnectionItem*> followed;
    for (const ConnectionItem& item : state->connectionStore().activeConnections())
        followed.insert(item.id, &item);
    QJsonArray list;
    for (const ConnectionItem& item : connections) {
        const ConnectionItem* live = followed.value(item.id);
        list.append(QJsonObject{
            {QStringLiteral("id"), item.id},
            {QStringLiteral("network"), item.metadata.network},
            {QStringLiteral("destination"), item.destination()},
            {QStringLiteral("process"), item.metadata.process},
            {QStringLiteral("rule"),
             item.rulePayload.isEmpty() ? item.rule : item.rule + u',' + item.rulePayload},
            {QStringLiteral("chains"), QJsonArray::fromStringList(item.chains)},
            {QStringLiteral("upload"), item.upload},
            {QStringLiteral("download"), item.download},
            {QStringLiteral("uploadSpeed"), live ? live->uploadSpeed : 0},
            {QStringLiteral("downloadSpeed"), live ? live->downloadSpeed : 0},
            {QStringLiteral("start"), item.start.toUTC().toString(Qt::ISODateWithMs)},
        });
    }
    co_return AppResponse::ok({{QStringLiteral("json"), jsonText(list)}});
}

// "id", or "all": true.
QCoro::Task<AppResponse> closeConnection(QPointer<AppState> state, AppCommand command)
{
    if (command.has("id") == command.boolean("all"))
        co_return AppResponse::failure(QStringLiteral("Name one connection, or all of them"));
    if (!co_await kernelReady(state))
        co_return state ? kNotRunning : kGone;
    const MihomoClient client = state->client();
    const QList<ConnectionItem> open = co_await client.connections();
    if (!state)
        co_return kGone;
    if (command.boolean("all")) {
        co_await client.closeAllConnections();
        co_return AppResponse::ok({{QStringLiteral("closed"), QString::number(open.size())}});
    }
    const QString id = command.text("id");
    if (std::none_of(open.cbegin(), open.cend(), [&](const ConnectionItem& item) { return item.id == id; }))
        co_return AppResponse::failure(QStringLiteral("Connection not found: ") + id);
    co_await client.closeConnection(id);
    co_return AppResponse::ok({{QStringLiteral("closed"), QStringLiteral("1")}});
}

QCoro::Task<AppResponse> getTraffic(QPointer<AppState> state, AppCommand)
{
    if (!kernelRunning(*state))
        co_return kNotRunning;
    const TrafficStore& traffic = state->trafficStore();
    co_return AppResponse::ok({
        {QStringLiteral("upload"), QString::number(traffic.currentUpload())},
        {QStringLiteral("download"), QString::number(traffic.currentDownload())},
        {QStringLiteral("uploadTotal"), QString::number(traffic.totalUpload())},
        {QStringLiteral("downloadTotal"), QString::number(traffic.totalDownload())},
        {QStringLiteral("memory"), QString::number(traffic.currentMemory())},
        {QStringLiteral("connections"), QString::number(state->connectionStore().activeCount())},
    });
}

AppResponse proxyModes(const AppState& state)
{
    return AppResponse::ok(
        {{QStringLiteral("systemProxy"), onOff(state.systemProxyEnabled())},
         {QStringLiteral("systemProxyApplied"),
          state.proxyModes().systemProxyApplied() ? QStringLiteral("true") : QStringLiteral("false")},
         {QStringLiteral("tun"), onOff(state.tunEnabled())}});
}

QCoro::Task<AppResponse> getProxyModes(QPointer<AppState> state, AppCommand)
{
    co_return proxyModes(*state);
}

QCoro::Task<AppResponse> setSystemProxy(QPointer<AppState> state, AppCommand command)
{
    co_await state->setSystemProxy(command.boolean("enabled"));
    if (!state)
        co_return kGone;
    co_return proxyModes(*state);
}

QCoro::Task<AppResponse> setTunMode(QPointer<AppState> state, AppCommand command)
{
    co_await state->setTunMode(command.boolean("enabled"));
    if (!state)
        co_return kGone;
    co_return proxyModes(*state);
}

} // namespace

QHash<QString, AppCommandGroups::Function> AppCommandGroups::liveCommands()
{
    return {
        {QStringLiteral("getGroups"), getGroups},
        {QStringLiteral("selectProxy"), selectProxy},
        {QStringLiteral("testGroup"), testGroup},
        {QStringLiteral("getConnections"), getConnections},
        {QStringLiteral("closeConnection"), closeConnection},
        {QStringLiteral("getTraffic"), getTraffic},
        {QStringLiteral("getProxyModes"), getProxyModes},
        {QStringLiteral("setSystemProxy"), setSystemProxy},
        {QStringLiteral("setTunMode"), setTunMode},
    };
}

} // namespace tarnwick
