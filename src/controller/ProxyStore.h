#pragma once

#include "MihomoClient.h"
#include "OutboundMode.h"
#include "ProxyGroup.h"
#include "ProxyProvider.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <optional>

namespace tarnwick {

class Settings;

// The model behind the policy page, the menu's group menus and the control socket's provider commands:
// the outbound mode, the proxy groups with their members, the proxy providers, latency results and which
// tests and updates are running. Before the kernel answers it shows placeholder groups and providers read
// from the runtime configuration. Main thread only.
class ProxyStore final : public QObject
{
    Q_OBJECT

public:
    // The pseudo-group under which the interface lists the profile's own nodes.
    static const QString localProxiesGroup;
    static const QString hideUnavailableKey;
    static const QString showHiddenGroupsKey;
    static const QString autoDisconnectKey;
    // Milliseconds the kernel is given for every latency test.
    static constexpr int testTimeout = 5000;

    // `configPath`: the runtime configuration the placeholders are read from.
    ProxyStore(MihomoClient client, Settings& settings, QString configPath, QObject* parent = nullptr);
    ~ProxyStore() override;

    OutboundMode mode() const { return m_mode; }
    const QList<ProxyGroup>& groups() const { return m_groups; }
    // Outbound name (node or group) → delay in milliseconds; 0 is a failed test.
    const QHash<QString, qint64>& delayMap() const { return m_delayMap; }
    const std::optional<QDateTime>& lastRefreshed() const { return m_lastRefreshed; }
    const QStringList& groupOrderTemplate() const { return m_groupOrderTemplate; }
    const QStringList& providerOrderTemplate() const { return m_providerOrderTemplate; }
    const QMap<QString, QString>& providerURLs() const { return m_providerURLs; }
    const QSet<QString>& testingNodes() const { return m_testingNodes; }
    const QSet<QString>& testingGroups() const { return m_testingGroups; }
    bool isBatchTesting() const { return m_batchTests > 0; }
    bool isTestingLocalProxies() const { return m_localTests > 0; }
    const QSet<QString>& updatingProviders() const { return m_updatingProviders; }
    const QSet<QString>& testingProviders() const { return m_testingProviders; }
    // The profile's own nodes as the kernel reports them, in configuration order.
    const QList<ProxyNode>& localProxies() const { return m_localProxies; }
    const QStringList& localProxyNames() const { return m_localProxyNames; }
    const QList<ProxyProvider>& providers() const { return m_providers; }
    const MihomoClient& client() const { return m_client; }

    bool hideUnavailableProxies() const { return m_hideUnavailableProxies; }
    bool showHiddenGroups() const { return m_showHiddenGroups; }
    bool autoDisconnectOnSwitch() const { return m_autoDisconnectOnSwitch; }
    // Each is written to the settings.
    void setHideUnavailableProxies(bool hide);
    void setShowHiddenGroups(bool show);
    void setAutoDisconnectOnSwitch(bool disconnect);

    void setClient(MihomoClient client) { m_client = std::move(client); }
    // The URL of tests that concern no group (single nodes, the local proxies); absent: the client's
    // default. For a network where that public endpoint is not the right one.
    void setDefaultTestURL(std::optional<QString> url) { m_defaultTestURL = std::move(url); }

    // Placeholders and templates from the configuration at `path` (absent: the runtime configuration).
    void loadConfigStructure(std::optional<QString> path = std::nullopt);
    // Mode, groups and providers from the kernel; what fails to arrive keeps its last content.
    QCoro::Task<> refresh();
    // The kernel stopped: its groups, providers, nodes and test results go with it, so that nothing shows
    // them as current; the next start begins again from the configuration's placeholders.
    void forgetKernel();
    // Throws what the kernel answers.
    QCoro::Task<> setMode(OutboundMode mode);
    // Throws what the kernel answers; then nothing changes.
    QCoro::Task<> selectProxy(QString group, QString name);
    // `group`: the group the node is tested as a member of, whose test URL is used.
    QCoro::Task<> testNodeDelay(QString name, std::optional<QString> group = std::nullopt);
    // `group` may be localProxiesGroup.
    QCoro::Task<> testGroupDelay(QString group);
    // Every group but the hidden ones and "GLOBAL", at once.
    QCoro::Task<> testAllGroups();
    QCoro::Task<> testLocalProxies();
    QCoro::Task<> updateProvider(QString name);
    QCoro::Task<> healthCheckProvider(QString name);

    // The delay shown for a name: its own result, else that of the member it selects (through nested
    // selections), else for a group the best of its members' (a fallback group: its first member's).
    std::optional<qint64> effectiveDelay(const QString& name) const;

    // Items named in `order` take their first position there; the others follow, by name in the
    // locale's case-insensitive order.
    template <typename T> static void sortByTemplate(QList<T>& items, const QStringList& order);

Q_SIGNALS:
    void modeChanged();
    void groupsChanged();
    void delayMapChanged();
    void providersChanged();
    void localProxiesChanged();
    void activityChanged();
    void settingsChanged();
    void refreshed();

private:
    const ProxyGroup* group(const QString& name) const;
    std::optional<qint64> effectiveDelay(const QString& name, QSet<QString>& path) const;
    void applyGroups(QList<ProxyGroup> groups);
    void applyProviders(QList<ProxyProvider> providers);
    void updateDelays();
    void setDelay(const QString& name, qint64 delay);
    QString testURLOf(const std::optional<QString>& group) const;
    static bool lessByName(const QString& a, const QString& b);

    MihomoClient m_client;
    Settings& m_settings;
    QString m_configPath;
    std::optional<QString> m_defaultTestURL;
    OutboundMode m_mode = OutboundMode::rule;
    QList<ProxyGroup> m_groups;
    QHash<QString, qint64> m_delayMap;
    std::optional<QDateTime> m_lastRefreshed;
    QStringList m_groupOrderTemplate;
    QStringList m_providerOrderTemplate;
    QMap<QString, QString> m_providerURLs;
    QSet<QString> m_testingNodes;
    QSet<QString> m_testingGroups;
    int m_batchTests = 0;
    int m_localTests = 0;
    QSet<QString> m_updatingProviders;
    QSet<QString> m_testingProviders;
    QList<ProxyNode> m_localProxies;
    QStringList m_localProxyNames;
    QList<ProxyProvider> m_providers;
    bool m_hideUnavailableProxies = false;
    bool m_showHiddenGroups = false;
    bool m_autoDisconnectOnSwitch = false;
    // Counts the kernels forgotten: a refresh that began for an earlier one applies nothing.
    quint64 m_kernelGeneration = 0;
};

template <typename T> void ProxyStore::sortByTemplate(QList<T>& items, const QStringList& order)
{
    QHash<QString, qsizetype> positions;
    for (qsizetype i = order.size() - 1; i >= 0; --i)
        positions.insert(order.at(i), i);
    static constexpr qsizetype unlisted = std::numeric_limits<qsizetype>::max();
    std::stable_sort(items.begin(), items.end(), [&positions](const T& a, const T& b) {
        const qsizetype pa = positions.value(a.name, unlisted), pb = positions.value(b.name, unlisted);
        if (pa != pb)
            return pa < pb;
        return pa == unlisted && lessByName(a.name, b.name);
    });
}

} // namespace tarnwick
