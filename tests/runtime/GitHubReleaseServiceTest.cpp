#include "runtime/GitHubReleaseService.h"

#include "platform/DecodingError.h"
#include "runtime/RuntimeDownloader.h"
#include "runtime/RuntimeError.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

using namespace tarnwick;
using Asset = test::ReleaseFeedServer::Asset;

namespace {

const QString kMihomo = "MetaCubeX/mihomo";
const QString kSmart = "someone/mihomo";
const QString kArch = GitHubReleaseService::architectureTag();

// This machine's archive of a version.
QString ours(const char* version)
{
    return "mihomo-" + kArch + "-" + version + ".gz";
}

Asset asset(const QString& name)
{
    return Asset{name, "bytes of " + name.toUtf8(), -1, 200};
}

// The description of what fetchLatest throws, or the version and the downloaded asset's name.
QString outcome(test::ReleaseFeedServer& feed, RuntimeChannel channel)
{
    QNetworkAccessManager network;
    const GitHubReleaseService service(&network, QUrl(feed.apiBase()), kSmart);
    try {
        const RuntimeRelease release = test::await(service.fetchLatest(channel));
        return release.version + " " + release.downloadURL.fileName();
    } catch (const Error& error) {
        return error.description();
    }
}

} // namespace

// Which release and which file each channel picks from real-looking release lists.
TEST(GitHubReleaseServiceTest, ChannelsPickTheirNewestReleaseAndThisMachinesArchive)
{
    test::ReleaseFeedServer feed;
    // The kernel's real naming: several amd64 builds per release; the compatible one is picked.
    feed.publish(kMihomo, "v1.19.29", false,
                 {asset("mihomo-linux-amd64-v1.19.29.gz"), asset(ours("v1.19.29")),
                  asset("mihomo-darwin-arm64-v1.19.29.gz")});
    feed.publish(kMihomo, "Prerelease-Alpha", true,
                 {asset("mihomo-windows-amd64-alpha-1a2b3c4.zip"), asset(ours("alpha-1a2b3c4"))});
    feed.publish(kSmart, "Prerelease-Alpha", true, {asset(ours("v1.19.30"))});

    // Stable passes over the newer pre-release.
    EXPECT_EQ(outcome(feed, RuntimeChannel::stable), "v1.19.29 " + ours("v1.19.29"));
    // The rolling tag's version is the build name from the archive's name.
    EXPECT_EQ(outcome(feed, RuntimeChannel::alpha), "alpha-1a2b3c4 " + ours("alpha-1a2b3c4"));
    // A rolling tag whose archive names no alpha build keeps the tag as its version.
    EXPECT_EQ(outcome(feed, RuntimeChannel::smart), "Prerelease-Alpha " + ours("v1.19.30"));
    // A release not flagged as pre-release is the alpha channel's when its tag says Alpha in any case.
    feed.publish(kMihomo, "v1.20.0-ALPHA.1", false, {asset(ours("v1.20.0-ALPHA.1"))});
    EXPECT_EQ(outcome(feed, RuntimeChannel::alpha), "v1.20.0-ALPHA.1 " + ours("v1.20.0-ALPHA.1"));

    const QList<test::HttpRequest> requests = feed.requests();
    ASSERT_EQ(requests.size(), 4);
    EXPECT_EQ(requests[0].path, "/repos/MetaCubeX/mihomo/releases");
    EXPECT_EQ(requests[0].headers.value("accept"), "application/vnd.github.v3+json");
    EXPECT_EQ(requests[2].path, "/repos/someone/mihomo/releases");
}

// Every way a release list can fail, with the text the user reads.
TEST(GitHubReleaseServiceTest, UnusableListsFailWithTheirReason)
{
    const QString noBinary = "No compatible binary found for architecture: " + kArch;
    const QString noRelease = "No valid release found for channel: stable";
    const std::pair<const char*, QList<Asset>> published[] = {
        {"other machines only", {asset("mihomo-darwin-arm64-v1.gz"), asset("mihomo-windows-amd64-v1.zip")}},
        {"uncompressed only", {asset("mihomo-" + kArch + "-v1")}},
    };
    for (const auto& [name, assets] : published) {
        test::ReleaseFeedServer feed;
        feed.publish(kMihomo, "v1", false, assets);
        EXPECT_EQ(outcome(feed, RuntimeChannel::stable), noBinary) << name;
    }
    const std::tuple<int, QByteArray, QString> answers[] = {
        {404, R"({"message":"Not Found"})", "Network failure: HTTP 404"},
        {403, R"({"message":"API rate limit exceeded"})", "Network failure: HTTP 403"},
        {200, "[]", noRelease},
        {200, R"([{"tag_name":"Prerelease-Alpha","prerelease":true,"assets":[]}])", noRelease},
        {200, "<html>rate limited</html>", "The release list is not valid JSON: illegal value"},
        {200, R"({"message":"Moved"})", "The release list is not a JSON array"},
        {200, R"([{"prerelease":false,"assets":[]}])", "Missing key \"tag_name\" in release 0"},
        {200, R"([{"tag_name":"v1","prerelease":false,"assets":[{"name":"a.gz"}]}])",
         "Missing key \"browser_download_url\" in asset 0 of release 0"},
        {200, R"([{"tag_name":"v1","prerelease":"no","assets":[]}])",
         "Key \"prerelease\" in release 0 is not a boolean"},
    };
    for (const auto& [status, body, expected] : answers) {
        test::ReleaseFeedServer feed;
        feed.overrideList(kMihomo, status, body);
        EXPECT_EQ(outcome(feed, RuntimeChannel::stable), expected) << body.constData();
    }

    QNetworkAccessManager network;
    const GitHubReleaseService unreachable(
        &network, QUrl(QStringLiteral("http://127.0.0.1:%1").arg(test::freePort())), kSmart);
    EXPECT_EQ(test::errorText<RuntimeError>(unreachable.fetchLatest(RuntimeChannel::stable)),
              "Network failure: Connection refused");
}

// The archive arrives whole or not at all; progress comes in steps of at least 1 % and ends at exactly 1.
TEST(RuntimeDownloaderTest, FileAppearsOnlyWhenComplete)
{
    QByteArray archive(3 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < archive.size(); ++i)
        archive[i] = static_cast<char>(i * 7 % 251);
    test::ReleaseFeedServer feed;
    feed.publish(kMihomo, "v1", false,
                 {Asset{"whole.gz", archive, -1, 200},
                  Asset{"half.gz", archive.left(archive.size() / 2), archive.size(), 200},
                  Asset{"gone.gz", {}, -1, 404}});
    QNetworkAccessManager network;
    const RuntimeDownloader downloader(&network);
    QTemporaryDir dir;
    const auto url = [&](const char* name) {
        return QUrl(feed.apiBase() + "/download/MetaCubeX/mihomo/v1/" + QLatin1String(name));
    };

    QList<double> progress;
    test::await(downloader.download(url("whole.gz"), dir.filePath("whole"),
                                    [&](double fraction) { progress.append(fraction); }));
    QFile whole(dir.filePath("whole"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    EXPECT_EQ(whole.readAll(), archive);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last(), 1.0);
    EXPECT_LE(progress.size(), 101);
    for (qsizetype i = 1; i < progress.size(); ++i)
        EXPECT_TRUE(progress[i] == 1.0 || progress[i] - progress[i - 1] >= 0.01) << progress[i];

    const QList<std::pair<const char*, QString>> failures = {
        {"half.gz", "Network failure: "},
        {"gone.gz", "Network failure: HTTP 404"},
    };
    for (const auto& [name, expected] : failures) {
        SCOPED_TRACE(name);
        const QString destination = dir.filePath(QString::fromLatin1(name));
        try {
            test::await(downloader.download(url(name), destination, {}));
            ADD_FAILURE() << "no error";
        } catch (const RuntimeError& error) {
            EXPECT_TRUE(error.description().startsWith(expected)) << error.description().toStdString();
            EXPECT_EQ(error.kind(), RuntimeError::Kind::networkFailure);
        }
        EXPECT_FALSE(QFile::exists(destination));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"whole"});
}
