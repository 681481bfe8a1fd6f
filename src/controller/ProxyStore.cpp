#include "ProxyStore.h"

#include "config/ConfigParser.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QCollator>
#include <QPointer>
#include <vector>

namespace tarnwick {

const QString ProxyStore::localProxiesGroup = QStringLiteral("__LOCAL_PROXIES__");
const QString ProxyStore::hideUnavailableKey = QStringLiteral("proxy.hideUnavailable");
const QString ProxyStore::showHiddenGroupsKey = QStringLiteral("proxy.showHiddenGroups");
const QString ProxyStore::autoDisconnectKey = QStringLiteral("proxy.autoDisconnect");

namespace {

const QString globalGroup = QStringLiteral("GLOBAL");
// Selections are followed through at most this many names.
constexpr int selectionDepth = 10;

void warn(const QString& what, const std::exception& error)
{
    printDiagnostic(QStringLiteral("\u26A0\uFE0F [ProxyStore] ") + what + u' ' + describe(error));
}

} // namespace

ProxyStore::ProxyStore(MihomoClient client, Settings& settings, QString configPath, QObject* parent)
    : QObject(parent), m_client(std::move(client)), m_settings(settings), m_configPath(std::move(configPath))
{
    m_hideUnavailableProxies = m_settings.boolean(hideUnavailableKey, false);
    m_showHiddenGroups = m_settings.boolean(showHiddenGroupsKey, false);
    m_autoDisconnectOnSwitch = m_settings.boolean(autoDisconnectKey, false);
    loadConfigStructure();
}

ProxyStore::~ProxyStore() = default;

void ProxyStore::setHideUnavailableProxies(bool hide)
{
    m_hideUnavailableProxies = hide;
    m_settings.setBoolean(hideUnavailableKey, hide);
    Q_EMIT settingsChanged();
}

void ProxyStore::setShowHiddenGroups(bool show)
{
    m_showHiddenGroups = show;
    m_settings.setBoolean(showHiddenGroupsKey, show);
    Q_EMIT settingsChanged();
}

void ProxyStore::setAutoDisconnectOnSwitch(bool disconnect)
{
    m_autoDisconnectOnSwitch = disconnect;
    m_settings.setBoolean(autoDisconnectKey, disconnect);
    Q_EMIT settingsChanged();
}

void ProxyStore::loadConfigStructure(std::optional<QString> path)
{
    const ConfigStructure structure = ConfigParser::parse(path.value_or(m_configPath));
    if (structure.proxyGroups.isEmpty()) {
        m_groups.clear();
        Q_EMIT groupsChanged();
    } else if (m_groups.isEmpty()) {
        for (const QString& name : structure.proxyGroups) {
            ProxyGroup placeholder;
            placeholder.name = name;
            placeholder.type = GroupType::pending;
            m_groups.append(placeholder);
        }
        Q_EMIT groupsChanged();
    }
    m_groupOrderTemplate = structure.proxyGroups;
    if (structure.proxyProviders.isEmpty()) {
        m_providers.clear();
        Q_EMIT providersChanged();
    } else if (m_providers.isEmpty()) {
        for (const QString& name : structure.proxyProviders) {
            ProxyProvider placeholder;
            placeholder.name = name;
            placeholder.type = QStringLiteral("pending");
            placeholder.vehicleType = QStringLiteral("pending");
            m_providers.append(placeholder);
        }
        Q_EMIT providersChanged();
    }
    m_providerOrderTemplate = structure.proxyProviders;
    m_providerURLs = structure.proxyProviderURLs;
    m_localProxyNames = structure.proxies;
}

void ProxyStore::forgetKernel()
{
    ++m_kernelGeneration;
    if (!m_groups.isEmpty()) {
        m_groups.clear();
        Q_EMIT groupsChanged();
    }
    if (!m_providers.isEmpty()) {
        m_providers.clear();
        Q_EMIT providersChanged();
    }
    if (!m_localProxies.isEmpty()) {
        m_localProxies.clear();
        Q_EMIT localProxiesChanged();
    }
    if (!m_delayMap.isEmpty()) {
        m_delayMap.clear();
        Q_EMIT delayMapChanged();
    }
    m_lastRefreshed.reset();
}

QCoro::Task<> ProxyStore::refresh()
{
    const QPointer<ProxyStore> self(this);
    const MihomoClient client = m_client;
    const quint64 generation = m_kernelGeneration;
    try {
        const OutboundMode mode = co_await client.currentMode();
        if (!self || generation != m_kernelGeneration)
            co_return;
        if (mode != m_mode) {
            m_mode = mode;
            Q_EMIT modeChanged();
        }
    } catch (const std::exception& error) {
        warn(QStringLiteral("Failed to fetch mode:"), error);
    }
    if (!self)
        co_return;

    // Both requests are under way before either is awaited.
    QCoro::Task<QList<ProxyGroup>> groupsCall = client.proxyGroups();
    QCoro::Task<QList<ProxyProvider>> providersCall = client.proxyProviders();
    std::optional<QList<ProxyGroup>> groups;
    std::optional<QList<ProxyProvider>> providers;
    try {
        groups = co_await std::move(groupsCall);
    } catch (const std::exception& error) {
        warn(QStringLiteral("Failed to fetch proxy groups:"), error);
    }
    try {
        providers = co_await std::move(providersCall);
    } catch (const std::exception& error) {
        warn(QStringLiteral("Failed to fetch proxy providers:"), error);
    }
    if (!self || generation != m_kernelGeneration)
        co_return;
    if (providers)
        applyProviders(std::move(*providers));
    if (groups)
        applyGroups(std::move(*groups));
    m_lastRefreshed = QDateTime::currentDateTimeUtc();
    Q_EMIT refreshed();
}

void ProxyStore::applyProviders(QList<ProxyProvider> providers)
{
    // The kernel's built-in compatibility providers are not the user's.
    providers.removeIf([this](const ProxyProvider& provider) {
        return !m_providerOrderTemplate.contains(provider.name) &&
               provider.vehicleType.compare(QLatin1String("Compatible"), Qt::CaseInsensitive) == 0;
    });
    sortByTemplate(providers, m_providerOrderTemplate);
    if (providers == m_providers)
        return;
    m_providers = std::move(providers);
    Q_EMIT providersChanged();
}

void ProxyStore::applyGroups(QList<ProxyGroup> groups)
{
    sortByTemplate(groups, m_groupOrderTemplate);
    const bool changed = groups != m_groups;
    m_groups = std::move(groups);

    QList<ProxyNode> local;
    for (const QString& name : std::as_const(m_localProxyNames)) {
        for (const ProxyGroup& group : std::as_const(m_groups)) {
            const auto node = std::find_if(group.proxies.cbegin(), group.proxies.cend(),
                                           [&name](const ProxyNode& member) { return member.name == name; });
            if (node != group.proxies.cend()) {
                local.append(*node);
                break;
            }
        }
    }
    updateDelays();
    if (changed)
        Q_EMIT groupsChanged();
    if (local != m_localProxies) {
        m_localProxies = std::move(local);
        Q_EMIT localProxiesChanged();
    }
}

void ProxyStore::updateDelays()
{
    QSet<QString> outbounds;
    QHash<QString, qint64> reported;
    const auto seeNode = [&](const ProxyNode& node) {
        outbounds.insert(node.name);
        // The kernel's own last test of a node, for instance a url-test group's periodic check.
        if (node.delay)
            reported.insert(node.name, *node.delay);
    };
    for (const ProxyGroup& group : std::as_const(m_groups)) {
        outbounds.insert(group.name);
        for (const ProxyNode& member : group.proxies)
            seeNode(member);
    }
    for (const ProxyProvider& provider : std::as_const(m_providers)) {
        for (const ProxyNode& node : provider.proxies)
            seeNode(node);
    }
    QHash<QString, qint64> delays;
    for (auto it = m_delayMap.cbegin(); it != m_delayMap.cend(); ++it) {
        if (outbounds.contains(it.key()))
            delays.insert(it.key(), it.value());
    }
    for (auto it = reported.cbegin(); it != reported.cend(); ++it)
        delays.insert(it.key(), it.value());
    // A group's delay is derived from its members afresh, never from its own earlier value.
    for (const ProxyGroup& group : std::as_const(m_groups))
        delays.remove(group.name);
    std::swap(m_delayMap, delays);
    QHash<QString, qint64> groupDelays;
    for (const ProxyGroup& group : std::as_const(m_groups)) {
        if (const auto delay = effectiveDelay(group.name))
            groupDelays.insert(group.name, *delay);
    }
    m_delayMap.insert(groupDelays);
    if (m_delayMap != delays)
        Q_EMIT delayMapChanged();
}

QCoro::Task<> ProxyStore::setMode(OutboundMode mode)
{
    const QPointer<ProxyStore> self(this);
    co_await m_client.setMode(mode);
    if (!self || m_mode == mode)
        co_return;
    m_mode = mode;
    Q_EMIT modeChanged();
}

QCoro::Task<> ProxyStore::selectProxy(QString group, QString name)
{
    const QPointer<ProxyStore> self(this);
    const MihomoClient client = m_client;
    co_await client.selectProxy(group, name);
    if (!self)
        co_return;
    for (ProxyGroup& candidate : m_groups) {
        if (candidate.name == group && candidate.selectedProxyName != name) {
            candidate.selectedProxyName = name;
            updateDelays();
            Q_EMIT groupsChanged();
        }
    }
    // Every application reconnects, through the new member.
    if (m_autoDisconnectOnSwitch)
        co_await client.closeAllConnections();
}

QString ProxyStore::testURLOf(const std::optional<QString>& groupName) const
{
    if (groupName) {
        if (const ProxyGroup* found = group(*groupName); found && found->testURL)
            return *found->testURL;
    }
    return m_defaultTestURL.value_or(QString());
}

QCoro::Task<> ProxyStore::testNodeDelay(QString name, std::optional<QString> group)
{
    const QPointer<ProxyStore> self(this);
    m_testingNodes.insert(name);
    Q_EMIT activityChanged();
    try {
        const std::optional<qint64> delay = co_await m_client.testDelay(name, testURLOf(group), testTimeout);
        if (self && delay)
            setDelay(name, *delay);
    } catch (const std::exception& error) {
        warn(QStringLiteral("Node delay test failed for ") + name + u':', error);
    }
    if (!self)
        co_return;
    m_testingNodes.remove(name);
    Q_EMIT activityChanged();
}

QCoro::Task<> ProxyStore::testGroupDelay(QString groupName)
{
    if (groupName == localProxiesGroup) {
        co_await testLocalProxies();
        co_return;
    }
    const ProxyGroup* found = group(groupName);
    if (!found)
        co_return;
    const QPointer<ProxyStore> self(this);
    QHash<QString, bool> builtin;
    for (const ProxyNode& member : found->proxies)
        builtin.insert(member.name, member.isBuiltinPolicy());
    m_testingGroups.insert(groupName);
    Q_EMIT activityChanged();
    try {
        const QMap<QString, qint64> delays =
            co_await m_client.testGroupDelay(groupName, found->testURL, testTimeout);
        if (self) {
            for (auto it = delays.cbegin(); it != delays.cend(); ++it) {
                if (!builtin.value(it.key(), false))
                    m_delayMap.insert(it.key(), it.value());
            }
            Q_EMIT delayMapChanged();
        }
    } catch (const std::exception& error) {
        warn(QStringLiteral("Group delay test failed for ") + groupName + u':', error);
    }
    if (!self)
        co_return;
    co_await refresh();
    if (!self)
        co_return;
    m_testingGroups.remove(groupName);
    Q_EMIT activityChanged();
}

QCoro::Task<> ProxyStore::testAllGroups()
{
    const QPointer<ProxyStore> self(this);
    ++m_batchTests;
    Q_EMIT activityChanged();
    std::vector<QCoro::Task<>> tests;
    for (const ProxyGroup& candidate : std::as_const(m_groups)) {
        if (!candidate.isHidden && candidate.name != globalGroup)
            tests.push_back(testGroupDelay(candidate.name));
    }
    for (QCoro::Task<>& test : tests)
        co_await std::move(test);
    if (!self)
        co_return;
    --m_batchTests;
    Q_EMIT activityChanged();
}

QCoro::Task<> ProxyStore::testLocalProxies()
{
    const QPointer<ProxyStore> self(this);
    ++m_localTests;
    Q_EMIT activityChanged();
    // In parallel: the latency session carries up to 12 tests at once.
    std::vector<QCoro::Task<>> tests;
    for (const ProxyNode& node : std::as_const(m_localProxies))
        tests.push_back(testNodeDelay(node.name));
    for (QCoro::Task<>& test : tests)
        co_await std::move(test);
    if (!self)
        co_return;
    --m_localTests;
    Q_EMIT activityChanged();
}

QCoro::Task<> ProxyStore::updateProvider(QString name)
{
    const QPointer<ProxyStore> self(this);
    m_updatingProviders.insert(name);
    Q_EMIT activityChanged();
    bool updated = false;
    try {
        co_await m_client.updateProxyProvider(name);
        updated = true;
    } catch (const std::exception& error) {
        warn(QStringLiteral("Update provider failed for ") + name + u':', error);
    }
    if (self && updated)
        co_await refresh();
    if (!self)
        co_return;
    m_updatingProviders.remove(name);
    Q_EMIT activityChanged();
}

QCoro::Task<> ProxyStore::healthCheckProvider(QString name)
{
    const QPointer<ProxyStore> self(this);
    m_testingProviders.insert(name);
    Q_EMIT activityChanged();
    try {
        const auto delays = co_await m_client.healthCheckProvider(name);
        if (self && delays) {
            for (auto it = delays->cbegin(); it != delays->cend(); ++it)
                m_delayMap.insert(it.key(), it.value());
            Q_EMIT delayMapChanged();
        }
    } catch (const std::exception& error) {
        warn(QStringLiteral("Health check provider failed for ") + name + u':', error);
    }
    if (!self)
        co_return;
    m_testingProviders.remove(name);
    Q_EMIT activityChanged();
}

void ProxyStore::setDelay(const QString& name, qint64 delay)
{
    const auto found = m_delayMap.constFind(name);
    if (found != m_delayMap.cend() && *found == delay)
        return;
    m_delayMap.insert(name, delay);
    Q_EMIT delayMapChanged();
}

const ProxyGroup* ProxyStore::group(const QString& name) const
{
    for (const ProxyGroup& candidate : m_groups) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

std::optional<qint64> ProxyStore::effectiveDelay(const QString& name) const
{
    QSet<QString> path;
    return effectiveDelay(name, path);
}

std::optional<qint64> ProxyStore::effectiveDelay(const QString& name, QSet<QString>& path) const
{
    if (path.contains(name))
        return std::nullopt;
    QString resolved = name;
    QSet<QString> visited{resolved};
    while (visited.size() < selectionDepth) {
        const ProxyGroup* current = group(resolved);
        // Groups that select each other stop where the selection comes round again.
        if (!current || !current->selectedProxyName || current->selectedProxyName->isEmpty() ||
            visited.contains(*current->selectedProxyName))
            break;
        resolved = *current->selectedProxyName;
        visited.insert(resolved);
    }
    const auto known = m_delayMap.constFind(resolved);
    if (known != m_delayMap.cend())
        return *known;
    const ProxyGroup* resolvedGroup = group(resolved);
    if (!resolvedGroup)
        return std::nullopt;
    path.insert(name);
    path.insert(resolved);
    std::optional<qint64> result;
    for (const ProxyNode& member : resolvedGroup->proxies) {
        const auto delay = effectiveDelay(member.name, path);
        if (!delay || *delay < 1)
            continue;
        if (resolvedGroup->type == GroupType::fallback) {
            result = delay;
            break;
        }
        result = result ? std::min(*result, *delay) : *delay;
    }
    path.remove(resolved);
    path.remove(name);
    return result;
}

bool ProxyStore::lessByName(const QString& a, const QString& b)
{
    static const QCollator collator = [] {
        QCollator localized;
        localized.setCaseSensitivity(Qt::CaseInsensitive);
        return localized;
    }();
    return collator.compare(a, b) < 0;
}

} // namespace tarnwick
