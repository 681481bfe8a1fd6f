#include "AppUpdateService.h"

#include "AppRelease.h"
#include "AppUpdateError.h"
#include "platform/Logging.h"
#include "platform/ReleaseFeed.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <chrono>
#include <memory>
#include <qcoro/qcoronetworkreply.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kTimeout = 15s;

QString withoutV(QString tag)
{
    return tag.remove(QLatin1Char('v'));
}

// Text comparison in which runs of digits compare by their numeric value.
int compareNumerically(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            QStringView runA = QStringView(a).mid(i, endA - i);
            QStringView runB = QStringView(b).mid(j, endB - j);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size() ? -1 : 1;
            if (const int order = runA.compare(runB); order != 0)
                return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

std::pair<QString, std::optional<QString>> splitSuffix(const QString& version)
{
    const qsizetype dash = version.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return {version, std::nullopt};
    return {version.left(dash), version.mid(dash + 1)};
}

ReleaseEntry entryFor(const AppRelease& release, const QString& version, bool isCurrent)
{
    return ReleaseEntry{release.tagName, version,
                        release.publishedAt.value_or(QDateTime::currentDateTimeUtc()),
                        release.body.value_or(QString()), isCurrent};
}

} // namespace

AppUpdateService::AppUpdateService(QNetworkAccessManager* network, QUrl apiBase, QString repoOwner,
                                   QString repoName)
    : m_network(network), m_apiBase(std::move(apiBase)), m_repoOwner(std::move(repoOwner)),
      m_repoName(std::move(repoName))
{}

AppUpdateService::AppUpdateService(QNetworkAccessManager* network, const Settings& settings)
    : AppUpdateService(network, ReleaseFeed::apiBaseURL(settings),
                       ReleaseFeed::appRepository(settings).section(QLatin1Char('/'), 0, 0),
                       ReleaseFeed::appRepository(settings).section(QLatin1Char('/'), 1))
{}

int AppUpdateService::compareVersions(const QString& a, const QString& b)
{
    const auto [baseA, suffixA] = splitSuffix(a);
    const auto [baseB, suffixB] = splitSuffix(b);
    if (const int order = compareNumerically(baseA, baseB); order != 0)
        return order;
    if (!suffixA || !suffixB)
        return suffixA ? -1 : suffixB ? 1 : 0;
    const qint64 numberA = QString(*suffixA).remove(QStringLiteral("beta.")).toLongLong();
    const qint64 numberB = QString(*suffixB).remove(QStringLiteral("beta.")).toLongLong();
    return numberA < numberB ? -1 : numberA > numberB ? 1 : 0;
}

QCoro::Task<std::pair<int, QByteArray>> AppUpdateService::get(QString pathAndQuery) const
{
    const qsizetype question = pathAndQuery.indexOf(QLatin1Char('?'));
    QNetworkRequest request(ReleaseFeed::endpoint(m_apiBase,
                                                  question < 0 ? pathAndQuery : pathAndQuery.left(question),
                                                  question < 0 ? QString() : pathAndQuery.mid(question + 1)));
    request.setRawHeader("Accept", "application/vnd.github+json");
    request.setTransferTimeout(static_cast<int>(kTimeout.count()));
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        m_network->get(request), [](QNetworkReply* r) { r->deleteLater(); });
    co_await qCoro(reply.get()).waitForFinished(kTimeout + 5s);
    if (reply->isRunning())
        reply->abort();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw AppUpdateError(reply->errorString());
    co_return std::pair{status.toInt(), reply->readAll()};
}

QCoro::Task<AppUpdateResult> AppUpdateService::check(QString currentVersion, bool includeBeta) const
{
    const QString path = QStringLiteral("/repos/%1/%2/releases?per_page=10").arg(m_repoOwner, m_repoName);
    const auto [status, body] = co_await get(path);
    if (status != 200)
        co_return AppUpdateResult::upToDate(currentVersion);

    QList<AppRelease> releases = AppRelease::decodeList(body);
    QList<ReleaseEntry> entries;
    for (const AppRelease& release : releases) {
        const QString version = withoutV(release.tagName);
        entries.append(entryFor(release, version, version == currentVersion));
    }
    if (!includeBeta)
        releases.removeIf([](const AppRelease& release) { return release.prerelease; });
    if (releases.isEmpty())
        co_return AppUpdateResult::upToDate(currentVersion, entries);

    const QString latest = withoutV(releases.first().tagName);
    if (compareVersions(currentVersion, latest) == -1) {
        qCInfo(lcAppUpdateService, "Update available: %s → %s", qUtf8Printable(currentVersion),
               qUtf8Printable(latest));
        co_return AppUpdateResult::available(currentVersion, latest, releases.first().downloadURL(), entries);
    }
    co_return AppUpdateResult::upToDate(currentVersion, entries);
}

QCoro::Task<AppUpdateResult> AppUpdateService::checkAlpha(qint64 currentBuild) const
{
    const QString path =
        QStringLiteral("/repos/%1/%2/releases/tags/Prerelease-Alpha").arg(m_repoOwner, m_repoName);
    const auto [status, body] = co_await get(path);
    if (status != 200)
        co_return AppUpdateResult::upToDate(QStringLiteral("Alpha (Build %1)").arg(currentBuild));

    const AppRelease release = AppRelease::decode(body);
    static const QRegularExpression buildPattern(QStringLiteral("-b(\\d+)\\."));
    std::optional<qint64> remoteBuild;
    for (const AppReleaseAsset& asset : release.assets) {
        const QRegularExpressionMatch match = buildPattern.match(asset.name);
        if (match.hasMatch()) {
            remoteBuild = match.captured(1).toLongLong();
            break;
        }
    }
    const QString current = QStringLiteral("Alpha Build %1").arg(currentBuild);
    const QList<ReleaseEntry> entries{entryFor(
        release, QStringLiteral("Alpha Build %1").arg(remoteBuild.value_or(0)), remoteBuild == currentBuild)};
    if (!remoteBuild || currentBuild >= *remoteBuild)
        co_return AppUpdateResult::upToDate(current, entries);
    qCInfo(lcAppUpdateService, "Alpha update: Build %lld → %lld", currentBuild, *remoteBuild);
    co_return AppUpdateResult::available(current, QStringLiteral("Alpha Build %1").arg(*remoteBuild),
                                         release.downloadURL(), entries);
}

} // namespace tarnwick
