#include "GitHubReleaseService.h"

#include "GitHubRelease.h"
#include "RuntimeError.h"
#include "platform/ReleaseFeed.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <chrono>
#include <memory>
#include <qcoro/qcoronetworkreply.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kRequestTimeout = 60s;

// A pre-release's version is its build name (alpha-<commit>) rather than the rolling tag, taken from the
// chosen archive's name: the pieces from the first one naming "alpha" on.
QString rollingVersion(const QString& tagName, const QString& assetName)
{
    const QStringList pieces = assetName.split(QLatin1Char('-'));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (pieces[i].toLower().contains(QLatin1String("alpha")))
            return pieces.mid(i).join(QLatin1Char('-')).remove(QStringLiteral(".gz"));
    }
    return tagName;
}

} // namespace

QString GitHubReleaseService::architectureTag()
{
#if defined(__aarch64__)
    return QStringLiteral("linux-arm64");
#else
    return QStringLiteral("linux-amd64-compatible");
#endif
}

GitHubReleaseService::GitHubReleaseService(QNetworkAccessManager* network, QUrl apiBase,
                                           QString smartRepository)
    : m_network(network), m_apiBase(std::move(apiBase)), m_smartRepository(std::move(smartRepository))
{}

GitHubReleaseService::GitHubReleaseService(QNetworkAccessManager* network, const Settings& settings)
    : GitHubReleaseService(network, ReleaseFeed::apiBaseURL(settings), ReleaseFeed::smartRepository(settings))
{}

QString GitHubReleaseService::repository(RuntimeChannel channel, const QString& smartRepository)
{
    return channel == RuntimeChannel::smart ? smartRepository : ReleaseFeed::kernelRepository;
}

bool GitHubReleaseService::accepts(RuntimeChannel channel, const QString& tagName, bool prerelease)
{
    switch (channel) {
    case RuntimeChannel::stable:
        return !prerelease;
    case RuntimeChannel::alpha:
        return prerelease || tagName.contains(QLatin1String("alpha"), Qt::CaseInsensitive);
    case RuntimeChannel::smart:
        return true;
    }
    return false;
}

QCoro::Task<RuntimeRelease> GitHubReleaseService::fetchLatest(RuntimeChannel channel) const
{
    QNetworkRequest request(ReleaseFeed::endpoint(m_apiBase, QStringLiteral("/repos/") +
                                                                 repository(channel, m_smartRepository) +
                                                                 QStringLiteral("/releases")));
    request.setRawHeader("Accept", "application/vnd.github.v3+json");
    request.setTransferTimeout(static_cast<int>(kRequestTimeout.count()));
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        m_network->get(request), [](QNetworkReply* r) { r->deleteLater(); });
    co_await qCoro(reply.get()).waitForFinished(kRequestTimeout + 5s);
    if (reply->isRunning())
        reply->abort();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && reply->error() != QNetworkReply::NoError)
        throw RuntimeError::networkFailure(reply->errorString());
    const int code = status.isValid() ? status.toInt() : -1;
    if (code < 200 || code > 299)
        throw RuntimeError::networkFailure(QStringLiteral("HTTP %1").arg(code));
    if (reply->error() != QNetworkReply::NoError)
        throw RuntimeError::networkFailure(reply->errorString());

    const QList<GitHubRelease> releases = GitHubRelease::decodeList(reply->readAll());
    const auto release = std::find_if(releases.cbegin(), releases.cend(), [channel](const GitHubRelease& r) {
        return accepts(channel, r.tagName, r.prerelease);
    });
    if (release == releases.cend())
        throw RuntimeError::releaseNotFound(channel);

    const auto asset =
        std::find_if(release->assets.cbegin(), release->assets.cend(), [](const GitHubAsset& a) {
            return a.name.contains(architectureTag()) && a.name.endsWith(QLatin1String(".gz"));
        });
    if (asset == release->assets.cend())
        throw RuntimeError::compatibleAssetNotFound(architectureTag());

    RuntimeRelease result{release->tagName, asset->browserDownloadURL};
    if (channel != RuntimeChannel::stable && release->tagName.toLower().contains(QLatin1String("prerelease")))
        result.version = rollingVersion(release->tagName, asset->name);
    co_return result;
}

} // namespace tarnwick
