#pragma once

#include "ConnectionItem.h"
#include "ConnectionSnapshot.h"
#include "ControllerEndpoint.h"
#include "ControllerStream.h"
#include "LatencySession.h"
#include "LogEntry.h"
#include "MemorySnapshot.h"
#include "OutboundMode.h"
#include "ProxyGroup.h"
#include "ProxyProvider.h"
#include "RuleProviderItem.h"
#include "TrafficSnapshot.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

namespace tarnwick {

// The engine settings patchConfigs() can change in the running kernel; only those given are sent.
struct ConfigPatch
{
    std::optional<int> mixedPort;
    std::optional<int> port;
    std::optional<int> socksPort;
    std::optional<int> redirPort;
    std::optional<int> tproxyPort;
    std::optional<QString> logLevel;
    std::optional<bool> allowLan;
    std::optional<bool> ipv6;
    std::optional<bool> inboundTfo;
    std::optional<bool> inboundMptcp;

    // The PATCH body, keys as the kernel names them.
    QJsonObject toJson() const;
};

// The one component that talks to the running kernel's external controller: REST calls over HTTP with the
// bearer secret, and the four WebSocket streams. A plain value holding its endpoint and two shared HTTP
// sessions; copy it freely. Meant for the thread its sessions live on (the main thread).
//
// Failures: NetworkError when no HTTP response came back, MihomoClientError (httpError) for a status
// outside 200–299, MihomoClientError (invalidResponse) for a successful status whose body is not JSON, and
// MihomoClientError (invalidEndpoint), before anything is sent, when the endpoint's host forms no URL.
class MihomoClient final
{
public:
    // Used when a latency test is given no URL: a public endpoint answering an empty 204.
    static const QString defaultDelayTestUrl;
    static constexpr std::chrono::seconds requestTimeout{5};

    // `session` carries every ordinary request and must outlive the calls; the latency session is
    // created when not given.
    MihomoClient(ControllerEndpoint endpoint, QNetworkAccessManager* session,
                 std::shared_ptr<LatencySession> latencySession = nullptr);

    const ControllerEndpoint& endpoint() const { return m_endpoint; }
    const std::shared_ptr<LatencySession>& latencySession() const { return m_latencySession; }

    // "unknown" when the kernel does not say.
    QCoro::Task<QString> version() const;
    QCoro::Task<QJsonObject> configs() const;
    // Rule when the kernel reports no mode or one it does not spell exactly as ours.
    QCoro::Task<OutboundMode> currentMode() const;
    QCoro::Task<> setMode(OutboundMode mode) const;
    // Sends nothing at all when the patch is empty.
    QCoro::Task<> patchConfigs(const ConfigPatch& patch) const;
    QCoro::Task<> setTunEnabled(bool enabled) const;
    QCoro::Task<bool> isTunEnabled() const;
    // Reloads the configuration file the kernel was started with.
    QCoro::Task<> reloadConfig(bool force) const;
    QCoro::Task<> updateGeoDatabases() const;
    QCoro::Task<> flushDNSCache() const;
    QCoro::Task<> flushFakeIPCache() const;

    QCoro::Task<QList<ConnectionItem>> connections() const;
    QCoro::Task<> closeConnection(const QString& id) const;
    QCoro::Task<> closeAllConnections() const;

    QCoro::Task<QList<ProxyGroup>> proxyGroups() const;
    QCoro::Task<QList<ProxyProvider>> proxyProviders() const;
    QCoro::Task<> updateProxyProvider(const QString& name) const;
    // Node name → delay when the kernel answers with such a map (an empty answer is an empty map);
    // absent when any value is not an integer.
    QCoro::Task<std::optional<QMap<QString, qint64>>> healthCheckProvider(const QString& name) const;
    QCoro::Task<> selectProxy(const QString& group, const QString& name) const;

    // Latency tests through the latency session. `url` empty or absent: defaultDelayTestUrl. `timeout` in
    // milliseconds, raised to at least one second for the kernel.
    QCoro::Task<std::optional<qint64>> testDelay(const QString& name, const std::optional<QString>& url,
                                                 int timeout) const;
    // Node name → delay for every member the kernel reports a delay of zero or more for.
    QCoro::Task<QMap<QString, qint64>> testGroupDelay(const QString& group, const std::optional<QString>& url,
                                                      int timeout) const;

    // Rule index → hit count, for the rules that were hit at least once.
    QCoro::Task<QMap<int, qint64>> ruleHitCounts() const;
    QCoro::Task<QList<RuleProviderItem>> ruleProviders() const;
    QCoro::Task<> updateRuleProvider(const QString& name) const;

    std::unique_ptr<ControllerStream<ConnectionSnapshot>> connectionsStream() const;
    std::unique_ptr<ControllerStream<TrafficSnapshot>> trafficStream() const;
    std::unique_ptr<ControllerStream<MemorySnapshot>> memoryStream() const;
    // `level`: "debug", "info", "warning", "error" or "silent".
    std::unique_ptr<ControllerStream<LogEntry>> logsStream(const QString& level) const;

    // A group, node or provider name as one path segment: URL path characters but "/", "#" and "%" pass,
    // everything else is percent-encoded.
    static QString pathSegment(const QString& name);
    // The kernel is given at least one second for a latency test.
    static int kernelDelayTimeout(int timeout);
    // A latency request waits two seconds longer than the kernel is given, and never less than five.
    static std::chrono::seconds delayRequestTimeout(int kernelTimeout);

private:
    using Query = QMap<QString, QString>;

    QUrl url(const QString& path, const Query& query, const QString& scheme) const;
    QNetworkRequest request(const QString& path, const Query& query, std::chrono::milliseconds timeout) const;
    QCoro::Task<QJsonObject> call(const QByteArray& verb, const QString& path, const Query& query = {},
                                  const std::optional<QJsonObject>& body = std::nullopt) const;
    QCoro::Task<QJsonObject> delayCall(const QString& path, const std::optional<QString>& testUrl,
                                       int timeout) const;
    // `decode`: a ControllerStream<T>::Decoder or TextDecoder.
    template <typename T, typename D>
    std::unique_ptr<ControllerStream<T>> stream(const QString& path, const Query& query, D decode) const;

    ControllerEndpoint m_endpoint;
    QPointer<QNetworkAccessManager> m_session;
    std::shared_ptr<LatencySession> m_latencySession;
};

} // namespace tarnwick
