#include "update/AppUpdateService.h"

#include "platform/DecodingError.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"
#include "update/AppBundle.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

using namespace tarnwick;
using Asset = test::ReleaseFeedServer::Asset;

namespace {

const QString kRepository = "publisher/Tarnwick";

Asset asset(const char* name)
{
    return Asset{QString::fromLatin1(name), "bytes", -1, 200};
}

// "available <latest> <file of the download URL>", "upToDate <current>", or the error's text.
QString outcome(test::ReleaseFeedServer& feed,
                const std::function<QCoro::Task<AppUpdateResult>(AppUpdateService&)>& run)
{
    QNetworkAccessManager network;
    AppUpdateService service(&network, QUrl(feed.apiBase()), "publisher", "Tarnwick");
    try {
        const AppUpdateResult result = test::await(run(service));
        if (result.kind == AppUpdateResult::Kind::upToDate)
            return "upToDate " + result.currentVersion;
        return QStringLiteral("available %1 %2")
            .arg(result.latest, QUrl(result.downloadURL).path().section('/', -1));
    } catch (const Error& error) {
        return error.description();
    }
}

} // namespace

TEST(AppUpdateServiceTest, VersionsCompareByNumberThenSuffix)
{
    const QList<std::tuple<const char*, const char*, int>> cases = {
        {"1.10.0", "1.9.2", 1},           {"1.2.0", "1.2.0-beta.5", 1}, {"1.2.0-beta.10", "1.2.0-beta.9", 1},
        {"1.2.0-beta.9", "1.2.0", -1},    {"1.3.0", "1.3.0", 0},        {"0.1.0", "0.2.0", -1},
        {"1.2.0-rc", "1.2.0-beta.1", -1}, {"1.02", "1.2", 0},           {"2", "10", -1},
    };
    for (const auto& [a, b, expected] : cases)
        EXPECT_EQ(AppUpdateService::compareVersions(QString::fromLatin1(a), QString::fromLatin1(b)), expected)
            << a << " vs " << b;
}

TEST(AppUpdateServiceTest, StableAndAlphaChecksAgainstTheFeed)
{
    test::ReleaseFeedServer feed;
    feed.publish(kRepository, "v0.1.0", false, {asset("Tarnwick-0.1.0-linux-amd64.zip")});
    feed.publish(kRepository, "v0.2.0", false,
                 {asset("Tarnwick-0.2.0.dmg"), asset("Tarnwick-0.2.0-linux-amd64.zip")});
    feed.publish(kRepository, "v0.3.0-beta.1", true, {asset("Tarnwick-0.3.0-beta.1.zip")});

    const auto stable = [](const char* current) {
        return [current](AppUpdateService& s) { return s.check(QString::fromLatin1(current), false); };
    };
    // The newest non-pre-release; its .zip over its .dmg.
    EXPECT_EQ(outcome(feed, stable("0.1.0")), "available 0.2.0 Tarnwick-0.2.0-linux-amd64.zip");
    EXPECT_EQ(outcome(feed, stable("0.2.0")), "upToDate 0.2.0");
    EXPECT_EQ(outcome(feed, stable("0.2.1")), "upToDate 0.2.1");
    EXPECT_EQ(outcome(feed, [](AppUpdateService& s) { return s.check("0.2.0", true); }),
              "available 0.3.0-beta.1 Tarnwick-0.3.0-beta.1.zip");
    const QList<test::HttpRequest> requests = feed.requests();
    EXPECT_EQ(requests.first().path, "/repos/publisher/Tarnwick/releases");
    EXPECT_EQ(requests.first().query, "per_page=10");
    EXPECT_EQ(requests.first().headers.value("accept"), "application/vnd.github+json");

    // The history lists every release, the running one marked.
    QNetworkAccessManager network;
    AppUpdateService service(&network, QUrl(feed.apiBase()), "publisher", "Tarnwick");
    const AppUpdateResult result = test::await(service.check("0.1.0", false));
    ASSERT_EQ(result.releases.size(), 3);
    EXPECT_EQ(result.releases[0].version, "0.3.0-beta.1");
    EXPECT_EQ(result.releases[2].id, "v0.1.0");
    EXPECT_TRUE(result.releases[2].isCurrentVersion);
    EXPECT_FALSE(result.releases[1].isCurrentVersion);
    EXPECT_EQ(result.releases[1].body, "Release v0.2.0");

    // A release without a bundle archive points at its page.
    feed.publish(kRepository, "v0.4.0", false, {asset("notes.txt")});
    EXPECT_EQ(outcome(feed, stable("0.2.0")), "available 0.4.0 v0.4.0");

    const auto alpha = [](qint64 build) {
        return [build](AppUpdateService& s) { return s.checkAlpha(build); };
    };
    EXPECT_EQ(outcome(feed, alpha(7)), "upToDate Alpha (Build 7)"); // no rolling release yet
    feed.publish(kRepository, "Prerelease-Alpha", true,
                 {asset("Tarnwick-alpha.txt"), asset("Tarnwick-alpha-b42.zip")});
    EXPECT_EQ(outcome(feed, alpha(7)), "available Alpha Build 42 Tarnwick-alpha-b42.zip");
    EXPECT_EQ(outcome(feed, alpha(42)), "upToDate Alpha Build 42");
    EXPECT_EQ(outcome(feed, alpha(43)), "upToDate Alpha Build 43");
}

TEST(AppUpdateServiceTest, BadFeedsGiveClearErrorsOrNothingNew)
{
    const QList<std::tuple<const char*, int, QByteArray, QString>> cases = {
        {"not found", 404, "{}", "upToDate 0.1.0"},
        {"server error", 500, "oops", "upToDate 0.1.0"},
        {"not JSON", 200, "<html>", "The release feed's answer is not valid JSON: illegal value"},
        {"object", 200, "{}", "The release list is not a JSON array"},
        {"no html_url", 200, R"([{"tag_name":"v1","name":"1","prerelease":false,"assets":[]}])",
         "Missing key \"html_url\" in release 0"},
        {"asset without size", 200,
         R"([{"tag_name":"v1","name":null,"html_url":"x","prerelease":false,"assets":[{"name":"a.zip","browser_download_url":"u"}]}])",
         "Missing key \"size\" in asset 0 of release 0"},
        {"bad date", 200,
         R"([{"tag_name":"v1","name":"1","html_url":"x","published_at":"yesterday","prerelease":false,"assets":[]}])",
         "Key \"published_at\" in release 0 is not an ISO 8601 date"},
    };
    for (const auto& [name, status, body, expected] : cases) {
        SCOPED_TRACE(name);
        test::ReleaseFeedServer feed;
        feed.overrideList(kRepository, status, body);
        EXPECT_EQ(outcome(feed, [](AppUpdateService& s) { return s.check("0.1.0", false); }), expected);
    }
}

TEST(AppBundleTest, VersionAndPlaceComeFromTheBundle)
{
    QTemporaryDir home;
    const QString path = home.filePath("Applications/Tarnwick");
    test::writeFile(path + "/share/tarnwick/Info.ini", "ShortVersion=0.2.0\nBuild=17\n");
    const AppBundle bundle(path);
    EXPECT_EQ(bundle.shortVersion(), "0.2.0");
    EXPECT_EQ(bundle.build(), 17);
    EXPECT_FALSE(AppBundle::isBundle(path)); // no executable yet
    test::writeFile(bundle.executable(), "#!/bin/sh\n");
    QFile(bundle.executable()).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_TRUE(AppBundle::isBundle(path));

    EXPECT_TRUE(bundle.isInApplicationsFolder(home.path()));
    EXPECT_TRUE(AppBundle("/opt/Tarnwick").isInApplicationsFolder(home.path()));
    for (const QString& elsewhere :
         {QString("/usr"), home.filePath("Downloads/Tarnwick"), home.filePath("Applications-old/Tarnwick")})
        EXPECT_FALSE(AppBundle(elsewhere).isInApplicationsFolder(home.path())) << elsewhere.toStdString();
    // Without a version file: this build's version, build 0.
    EXPECT_EQ(AppBundle(home.filePath("none")).shortVersion(), QStringLiteral(TARNWICK_VERSION));
    EXPECT_EQ(AppBundle(home.filePath("none")).build(), 0);
}
