#include "ReleaseFeedServer.h"

#include "runtime/GitHubReleaseService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace tarnwick::test {

ReleaseFeedServer::ReleaseFeedServer()
    : m_server([this](const HttpRequest& request) { return answer(request); })
{}

ReleaseFeedServer::Asset ReleaseFeedServer::kernelAsset(const QString& tag, QByteArray bytes, int status)
{
    return {QStringLiteral("mihomo-%1-%2.gz").arg(GitHubReleaseService::architectureTag(), tag),
            std::move(bytes), -1, status};
}

void ReleaseFeedServer::publish(const QString& repository, const QString& tag, bool prerelease,
                                const QList<Asset>& assets)
{
    QMutexLocker lock(&m_mutex);
    m_releases[repository].prepend(Release{tag, prerelease, assets});
}

void ReleaseFeedServer::overrideList(const QString& repository, int status, const QByteArray& body)
{
    QMutexLocker lock(&m_mutex);
    m_overrides.insert(repository, {status, body});
}

int ReleaseFeedServer::requestCount(const QByteArray& prefix) const
{
    int count = 0;
    for (const HttpRequest& request : m_server.requests())
        count += request.path.startsWith(prefix) ? 1 : 0;
    return count;
}

QByteArray ReleaseFeedServer::releaseJson(const QString& repository, int index) const
{
    const Release& release = m_releases[repository][index];
    QJsonArray assets;
    for (const Asset& asset : release.assets) {
        const QString path =
            QStringLiteral("/download/%1/%2/%3")
                .arg(repository, QString::fromUtf8(QUrl::toPercentEncoding(release.tag)), asset.name);
        assets.append(QJsonObject{{QStringLiteral("name"), asset.name},
                                  {QStringLiteral("size"), asset.bytes.size()},
                                  {QStringLiteral("content_type"), QStringLiteral("application/gzip")},
                                  {QStringLiteral("browser_download_url"), m_server.url(path)}});
    }
    const QJsonObject object{
        {QStringLiteral("tag_name"), release.tag},
        {QStringLiteral("name"), release.tag},
        {QStringLiteral("prerelease"), release.prerelease},
        {QStringLiteral("draft"), false},
        {QStringLiteral("html_url"),
         m_server.url(QStringLiteral("/html/%1/%2").arg(repository, release.tag))},
        {QStringLiteral("published_at"), QStringLiteral("2026-01-0%1T10:00:00Z").arg(index % 9 + 1)},
        {QStringLiteral("body"), QStringLiteral("Release ") + release.tag},
        {QStringLiteral("assets"), assets}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

HttpResponse ReleaseFeedServer::answer(const HttpRequest& request)
{
    QMutexLocker lock(&m_mutex);
    const QString path = QUrl::fromPercentEncoding(request.path);
    const QStringList parts = path.split(QLatin1Char('/'));
    // /repos/<owner>/<name>/releases[/tags/<tag>]
    if (parts.size() >= 5 && parts[1] == QLatin1String("repos") && parts[4] == QLatin1String("releases")) {
        const QString repository = parts[2] + QLatin1Char('/') + parts[3];
        const QList<Release> releases = m_releases.value(repository);
        if (parts.size() == 5) {
            if (m_overrides.contains(repository)) {
                const auto [status, body] = m_overrides.value(repository);
                return HttpResponse{status, {{"Content-Type", "application/json"}}, body, false};
            }
            QByteArray body = "[";
            for (int i = 0; i < releases.size(); ++i)
                body += (i ? "," : "") + releaseJson(repository, i);
            return HttpResponse{200, {{"Content-Type", "application/json"}}, body + "]", false};
        }
        if (parts.size() == 7 && parts[5] == QLatin1String("tags")) {
            for (int i = 0; i < releases.size(); ++i) {
                if (releases[i].tag == parts[6])
                    return HttpResponse{
                        200, {{"Content-Type", "application/json"}}, releaseJson(repository, i), false};
            }
        }
        return HttpResponse{404, {}, R"({"message":"Not Found"})", false};
    }
    // /download/<owner>/<name>/<tag>/<asset>
    if (parts.size() == 6 && parts[1] == QLatin1String("download")) {
        for (const Release& release : m_releases.value(parts[2] + QLatin1Char('/') + parts[3])) {
            if (release.tag != parts[4])
                continue;
            for (const Asset& asset : release.assets) {
                if (asset.name != parts[5])
                    continue;
                if (asset.status != 200)
                    return HttpResponse{asset.status, {}, "no such file", false};
                HttpResponse response{
                    200, {{"Content-Type", "application/octet-stream"}}, asset.bytes, false};
                if (asset.announcedLength >= 0)
                    response.headers.append({"Content-Length", QByteArray::number(asset.announcedLength)});
                return response;
            }
        }
    }
    return HttpResponse{404, {}, "not found", false};
}

} // namespace tarnwick::test
