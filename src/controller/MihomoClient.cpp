#include "MihomoClient.h"

#include "ConnectionSnapshotDecoder.h"
#include "HttpResult.h"
#include "LenientJson.h"
#include "MihomoClientError.h"
#include "NetworkError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <algorithm>

namespace tarnwick {

const QString MihomoClient::defaultDelayTestUrl = QStringLiteral("https://www.gstatic.com/generate_204");

namespace {

// Characters a URL path may hold besides the unreserved ones (which are never encoded), "/" left out so
// that a name stays one segment.
const QByteArray pathSubDelimiters = QByteArrayLiteral("!$&'()*+,;=:@");

// The response rules: 2xx gives the body's JSON object (empty body or non-object: an empty map), any other
// status an httpError, no response at all the transport error.
QJsonObject interpret(const HttpResult& result)
{
    if (result.transportError)
        throw *result.transportError;
    if (result.status < 200 || result.status > 299)
        throw MihomoClientError::httpError(result.status, result.body);
    if (result.body.isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.body, &error);
    if (error.error != QJsonParseError::NoError)
        throw MihomoClientError::invalidResponse(error.errorString());
    return document.object();
}

QCoro::Task<QJsonObject> send(QPointer<QNetworkAccessManager> session, ControllerEndpoint endpoint,
                              QNetworkRequest request, QByteArray verb, std::optional<QByteArray> body)
{
    if (!endpoint.isValid())
        throw MihomoClientError::invalidEndpoint(endpoint.host, endpoint.port);
    if (!session)
        throw NetworkError(QNetworkReply::OperationCanceledError, QStringLiteral("The HTTP session is gone"));
    QNetworkReply* reply =
        body ? session->sendCustomRequest(request, verb, *body) : session->sendCustomRequest(request, verb);
    co_return interpret(co_await HttpResult::collect(reply));
}

QCoro::Task<QJsonObject> sendLatency(std::shared_ptr<LatencySession> session, ControllerEndpoint endpoint,
                                     QNetworkRequest request)
{
    if (!endpoint.isValid())
        throw MihomoClientError::invalidEndpoint(endpoint.host, endpoint.port);
    co_return interpret(co_await session->get(request));
}

// The operations decode after the call; the decoders are plain functions, so nothing dangles while the
// call is suspended.
template <typename R> QCoro::Task<R> decoded(QCoro::Task<QJsonObject> call, R (*decode)(const QJsonObject&))
{
    co_return decode(co_await std::move(call));
}

QCoro::Task<> discarded(QCoro::Task<QJsonObject> call)
{
    co_await std::move(call);
}

QCoro::Task<> nothing()
{
    co_return;
}

QString decodeVersion(const QJsonObject& response)
{
    return LenientJson::string(response, QStringLiteral("version"), QStringLiteral("unknown"));
}

QJsonObject decodeWhole(const QJsonObject& response)
{
    return response;
}

OutboundMode decodeMode(const QJsonObject& response)
{
    return outboundModeFromRaw(LenientJson::string(response, QStringLiteral("mode")))
        .value_or(OutboundMode::rule);
}

bool decodeTunEnabled(const QJsonObject& response)
{
    const QJsonValue enable =
        response.value(QStringLiteral("tun")).toObject().value(QStringLiteral("enable"));
    return enable.isBool() && enable.toBool();
}

QList<ConnectionItem> decodeConnections(const QJsonObject& response)
{
    return ConnectionSnapshot::fromJson(response).connections;
}

QList<ProxyGroup> decodeGroups(const QJsonObject& response)
{
    return ProxyGroup::listFromJson(response.value(QStringLiteral("proxies")).toObject());
}

QList<ProxyProvider> decodeProviders(const QJsonObject& response)
{
    QList<ProxyProvider> providers;
    const QJsonObject all = response.value(QStringLiteral("providers")).toObject();
    for (auto entry = all.begin(); entry != all.end(); ++entry)
        providers.append(ProxyProvider::fromJson(entry.key(), entry.value().toObject()));
    return providers;
}

std::optional<QMap<QString, qint64>> decodeHealthCheck(const QJsonObject& response)
{
    QMap<QString, qint64> delays;
    for (auto entry = response.begin(); entry != response.end(); ++entry) {
        const auto delay = LenientJson::numberValue(entry.value());
        if (!delay || entry.value().toVariant().typeId() != QMetaType::LongLong)
            return std::nullopt;
        delays.insert(entry.key(), *delay);
    }
    return delays;
}

std::optional<qint64> decodeDelay(const QJsonObject& response)
{
    return LenientJson::intValue(response.value(QStringLiteral("delay")));
}

QMap<QString, qint64> decodeGroupDelays(const QJsonObject& response)
{
    QMap<QString, qint64> delays;
    for (auto entry = response.begin(); entry != response.end(); ++entry) {
        const auto delay = LenientJson::intValue(entry.value());
        if (delay && *delay >= 0)
            delays.insert(entry.key(), *delay);
    }
    return delays;
}

QMap<int, qint64> decodeHitCounts(const QJsonObject& response)
{
    QMap<int, qint64> counts;
    for (const QJsonValue& element : response.value(QStringLiteral("rules")).toArray()) {
        const QJsonObject rule = element.toObject();
        const auto index = LenientJson::intValue(rule.value(QStringLiteral("index")));
        const QJsonValue extra = rule.value(QStringLiteral("extra"));
        if (!index || !extra.isObject())
            continue;
        const auto hits = LenientJson::intValue(extra.toObject().value(QStringLiteral("hitCount")));
        if (hits && *hits >= 1)
            counts.insert(static_cast<int>(*index), *hits);
    }
    return counts;
}

QList<RuleProviderItem> decodeRuleProviders(const QJsonObject& response)
{
    QList<RuleProviderItem> providers;
    const QJsonObject all = response.value(QStringLiteral("providers")).toObject();
    for (auto entry = all.begin(); entry != all.end(); ++entry)
        providers.append(RuleProviderItem::fromJson(entry.key(), entry.value().toObject()));
    return providers;
}

} // namespace

QJsonObject ConfigPatch::toJson() const
{
    QJsonObject body;
    const auto put = [&body](const char* key, const auto& value) {
        if (value)
            body.insert(QLatin1String(key), *value);
    };
    put("mixed-port", mixedPort);
    put("port", port);
    put("socks-port", socksPort);
    put("redir-port", redirPort);
    put("tproxy-port", tproxyPort);
    put("log-level", logLevel);
    put("allow-lan", allowLan);
    put("ipv6", ipv6);
    put("inbound-tfo", inboundTfo);
    put("inbound-mptcp", inboundMptcp);
    return body;
}

MihomoClient::MihomoClient(ControllerEndpoint endpoint, QNetworkAccessManager* session,
                           std::shared_ptr<LatencySession> latencySession)
    : m_endpoint(std::move(endpoint)), m_session(session),
      m_latencySession(latencySession ? std::move(latencySession) : std::make_shared<LatencySession>())
{}

QString MihomoClient::pathSegment(const QString& name)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name, pathSubDelimiters));
}

int MihomoClient::kernelDelayTimeout(int timeout)
{
    return std::max(timeout, 1000);
}

std::chrono::seconds MihomoClient::delayRequestTimeout(int kernelTimeout)
{
    return std::chrono::seconds(std::max(kernelTimeout / 1000 + 2, 5));
}

QUrl MihomoClient::url(const QString& path, const Query& query, const QString& scheme) const
{
    QUrl url = m_endpoint.baseURL();
    url.setScheme(scheme);
    // Already encoded: a "%2F" inside a name must reach the kernel as such.
    url.setPath(path.startsWith(u'/') ? path : u'/' + path, QUrl::TolerantMode);
    if (!query.isEmpty()) {
        // Every reserved character is encoded, "+" included, which the kernel would read as a space.
        QStringList items;
        for (auto item = query.begin(); item != query.end(); ++item) {
            items.append(QString::fromLatin1(QUrl::toPercentEncoding(item.key())) + u'=' +
                         QString::fromLatin1(QUrl::toPercentEncoding(item.value())));
        }
        url.setQuery(items.join(u'&'), QUrl::TolerantMode);
    }
    return url;
}

QNetworkRequest MihomoClient::request(const QString& path, const Query& query,
                                      std::chrono::milliseconds timeout) const
{
    QNetworkRequest request(url(path, query, QStringLiteral("http")));
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    if (!m_endpoint.secret.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_endpoint.secret.toUtf8());
    return request;
}

QCoro::Task<QJsonObject> MihomoClient::call(const QByteArray& verb, const QString& path, const Query& query,
                                            const std::optional<QJsonObject>& body) const
{
    QNetworkRequest request = this->request(path, query, requestTimeout);
    std::optional<QByteArray> payload;
    if (body) {
        payload = QJsonDocument(*body).toJson(QJsonDocument::Compact);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    }
    return send(m_session, m_endpoint, request, verb, payload);
}

QCoro::Task<QJsonObject> MihomoClient::delayCall(const QString& path, const std::optional<QString>& testUrl,
                                                 int timeout) const
{
    QString target = testUrl.value_or(QString()).trimmed();
    if (target.isEmpty())
        target = defaultDelayTestUrl;
    const int kernelTimeout = kernelDelayTimeout(timeout);
    const Query query{{QStringLiteral("url"), target},
                      {QStringLiteral("timeout"), QString::number(kernelTimeout)}};
    return sendLatency(m_latencySession, m_endpoint,
                       request(path, query, delayRequestTimeout(kernelTimeout)));
}

QCoro::Task<QString> MihomoClient::version() const
{
    return decoded(call("GET", QStringLiteral("/version")), &decodeVersion);
}

QCoro::Task<QJsonObject> MihomoClient::configs() const
{
    return decoded(call("GET", QStringLiteral("/configs")), &decodeWhole);
}

QCoro::Task<OutboundMode> MihomoClient::currentMode() const
{
    return decoded(call("GET", QStringLiteral("/configs")), &decodeMode);
}

QCoro::Task<> MihomoClient::setMode(OutboundMode mode) const
{
    const QJsonObject body{{QStringLiteral("mode"), rawValue(mode)}};
    return discarded(call("PATCH", QStringLiteral("/configs"), {}, body));
}

QCoro::Task<> MihomoClient::patchConfigs(const ConfigPatch& patch) const
{
    const QJsonObject body = patch.toJson();
    if (body.isEmpty())
        return nothing();
    return discarded(call("PATCH", QStringLiteral("/configs"), {}, body));
}

QCoro::Task<> MihomoClient::setTunEnabled(bool enabled) const
{
    const QJsonObject tun{{QStringLiteral("enable"), enabled},
                          {QStringLiteral("stack"), QStringLiteral("system")},
                          {QStringLiteral("auto-route"), true},
                          {QStringLiteral("auto-detect-interface"), true}};
    return discarded(
        call("PATCH", QStringLiteral("/configs"), {}, QJsonObject{{QStringLiteral("tun"), tun}}));
}

QCoro::Task<bool> MihomoClient::isTunEnabled() const
{
    return decoded(call("GET", QStringLiteral("/configs")), &decodeTunEnabled);
}

QCoro::Task<> MihomoClient::reloadConfig(bool force) const
{
    const Query query{{QStringLiteral("force"), force ? QStringLiteral("true") : QStringLiteral("false")}};
    const QJsonObject body{{QStringLiteral("path"), QString()}, {QStringLiteral("payload"), QString()}};
    return discarded(call("PUT", QStringLiteral("/configs"), query, body));
}

QCoro::Task<> MihomoClient::updateGeoDatabases() const
{
    return discarded(call("POST", QStringLiteral("/configs/geo")));
}

QCoro::Task<> MihomoClient::flushDNSCache() const
{
    return discarded(call("POST", QStringLiteral("/cache/dns/flush")));
}

QCoro::Task<> MihomoClient::flushFakeIPCache() const
{
    return discarded(call("POST", QStringLiteral("/cache/fakeip/flush")));
}

QCoro::Task<QList<ConnectionItem>> MihomoClient::connections() const
{
    return decoded(call("GET", QStringLiteral("/connections")), &decodeConnections);
}

QCoro::Task<> MihomoClient::closeConnection(const QString& id) const
{
    return discarded(call("DELETE", QStringLiteral("/connections/") + id));
}

QCoro::Task<> MihomoClient::closeAllConnections() const
{
    return discarded(call("DELETE", QStringLiteral("/connections")));
}

QCoro::Task<QList<ProxyGroup>> MihomoClient::proxyGroups() const
{
    return decoded(call("GET", QStringLiteral("/proxies")), &decodeGroups);
}

QCoro::Task<QList<ProxyProvider>> MihomoClient::proxyProviders() const
{
    return decoded(call("GET", QStringLiteral("/providers/proxies")), &decodeProviders);
}

QCoro::Task<> MihomoClient::updateProxyProvider(const QString& name) const
{
    return discarded(
        call("PUT", QStringLiteral("/providers/proxies/") + pathSegment(name), {}, QJsonObject()));
}

QCoro::Task<std::optional<QMap<QString, qint64>>> MihomoClient::healthCheckProvider(const QString& name) const
{
    return decoded(call("GET", QStringLiteral("/providers/proxies/") + pathSegment(name) +
                                   QStringLiteral("/healthcheck")),
                   &decodeHealthCheck);
}

QCoro::Task<> MihomoClient::selectProxy(const QString& group, const QString& name) const
{
    return discarded(call("PUT", QStringLiteral("/proxies/") + pathSegment(group), {},
                          QJsonObject{{QStringLiteral("name"), name}}));
}

QCoro::Task<std::optional<qint64>>
MihomoClient::testDelay(const QString& name, const std::optional<QString>& url, int timeout) const
{
    return decoded(
        delayCall(QStringLiteral("/proxies/") + pathSegment(name) + QStringLiteral("/delay"), url, timeout),
        &decodeDelay);
}

QCoro::Task<QMap<QString, qint64>>
MihomoClient::testGroupDelay(const QString& group, const std::optional<QString>& url, int timeout) const
{
    return decoded(
        delayCall(QStringLiteral("/group/") + pathSegment(group) + QStringLiteral("/delay"), url, timeout),
        &decodeGroupDelays);
}

QCoro::Task<QMap<int, qint64>> MihomoClient::ruleHitCounts() const
{
    return decoded(call("GET", QStringLiteral("/rules")), &decodeHitCounts);
}

QCoro::Task<QList<RuleProviderItem>> MihomoClient::ruleProviders() const
{
    return decoded(call("GET", QStringLiteral("/providers/rules")), &decodeRuleProviders);
}

QCoro::Task<> MihomoClient::updateRuleProvider(const QString& name) const
{
    return discarded(call("PUT", QStringLiteral("/providers/rules/") + pathSegment(name), {}, QJsonObject()));
}

template <typename T, typename D>
std::unique_ptr<ControllerStream<T>> MihomoClient::stream(const QString& path, const Query& query,
                                                          D decode) const
{
    Query withToken = query;
    if (!m_endpoint.secret.isEmpty())
        withToken.insert(QStringLiteral("token"), m_endpoint.secret);
    QNetworkRequest request(url(path, withToken, QStringLiteral("ws")));
    // Both: the token for kernels that only read it from the query, the header for the rest.
    if (!m_endpoint.secret.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_endpoint.secret.toUtf8());
    std::exception_ptr refusal;
    if (!m_endpoint.isValid())
        refusal =
            std::make_exception_ptr(MihomoClientError::invalidEndpoint(m_endpoint.host, m_endpoint.port));
    return std::make_unique<ControllerStream<T>>(request, decode, refusal);
}

std::unique_ptr<ControllerStream<ConnectionSnapshot>> MihomoClient::connectionsStream() const
{
    return stream<ConnectionSnapshot>(QStringLiteral("/connections"), {}, &ConnectionSnapshotDecoder::decode);
}

std::unique_ptr<ControllerStream<TrafficSnapshot>> MihomoClient::trafficStream() const
{
    return stream<TrafficSnapshot>(QStringLiteral("/traffic"), {}, &TrafficSnapshot::fromJson);
}

std::unique_ptr<ControllerStream<MemorySnapshot>> MihomoClient::memoryStream() const
{
    return stream<MemorySnapshot>(QStringLiteral("/memory"), {}, &MemorySnapshot::fromJson);
}

std::unique_ptr<ControllerStream<LogEntry>> MihomoClient::logsStream(const QString& level) const
{
    return stream<LogEntry>(QStringLiteral("/logs"), {{QStringLiteral("level"), level}}, &LogEntry::fromJson);
}

} // namespace tarnwick
