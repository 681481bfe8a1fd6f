#include "config/ProfileDownloader.h"

#include "config/UserAgentHelper.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;
using namespace std::chrono_literals;

namespace {

class ProfileDownloaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Downloads land in the temporary directory: give each test its own, to see what is left behind.
        m_previousTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_tmp.path().toUtf8());
    }
    void TearDown() override { qputenv("TMPDIR", m_previousTmp); }

    QStringList leftovers() const { return QDir(m_tmp.path()).entryList(QDir::Files); }

    QTemporaryDir m_tmp;
    QByteArray m_previousTmp;
    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath("settings.ini")};
    ProfileDownloader m_downloader{m_settings};
};

const QByteArray kProfile = "proxies: []\nrules:\n  - MATCH,DIRECT\n";

} // namespace

TEST_F(ProfileDownloaderTest, DownloadsWithQuotaAndSuggestedName)
{
    TestHttpServer server([](const HttpRequest&) {
        HttpResponse response;
        response.headers = {{"Subscription-Userinfo", "Upload=5; DOWNLOAD=20; total=100; expire=1767225600"},
                            {"Content-Disposition", "attachment; filename=\"My Sub.yaml\""}};
        response.body = kProfile;
        return response;
    });
    const ProfileDownload download = await(m_downloader.download(server.url("/sub?token=a/b")));

    EXPECT_EQ(readFile(download.filePath()).toUtf8(), kProfile);
    EXPECT_EQ(download.rawInfo, "Upload=5; DOWNLOAD=20; total=100; expire=1767225600");
    EXPECT_EQ(download.info, (SubscriptionInfo{5, 20, 100, 1767225600}));
    EXPECT_EQ(download.remoteName, "My Sub.yaml");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].query, "token=a/b");
    EXPECT_EQ(server.requests()[0].headers.value("user-agent"), UserAgentHelper::defaultUA.toUtf8());
}

TEST_F(ProfileDownloaderTest, ExtendedFileNameAndConfiguredUserAgent)
{
    TestHttpServer server([](const HttpRequest&) {
        HttpResponse response;
        response.headers = {
            {"content-disposition", "attachment; filename*=UTF-8''%E6%9C%BA%E5%9C%BA%20Sub.yml"}};
        response.body = kProfile;
        return response;
    });
    m_settings.setText("globalUA", "  clash-verge/1.0\n");
    const ProfileDownload download = await(m_downloader.download(server.url("/s")));
    EXPECT_EQ(download.remoteName, "机场 Sub.yml");
    EXPECT_FALSE(download.info.has_value());
    EXPECT_FALSE(download.rawInfo.has_value());

    // Blanks only: the default again.
    m_settings.setText("globalUA", " \n\t ");
    await(m_downloader.download(server.url("/s")));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[0].headers.value("user-agent"), "clash-verge/1.0");
    EXPECT_EQ(server.requests()[1].headers.value("user-agent"), UserAgentHelper::defaultUA.toUtf8());
}

TEST_F(ProfileDownloaderTest, FailuresLeaveNoFileBehind)
{
    TestHttpServer server([](const HttpRequest& request) {
        HttpResponse response;
        if (request.path == "/missing") {
            response.status = 404;
            response.body = "not here";
        } else {
            response.neverAnswer = true;
        }
        return response;
    });
    m_downloader.setTimeout(300ms);
    using Kind = ProfileDownloaderError::Kind;
    // Nothing listens on a port that was just free.
    const std::tuple<QString, Kind, QString> cases[] = {
        {server.url("/missing"), Kind::HttpStatus, "HTTP Error: 404 from 127.0.0.1"},
        {server.url("/silent"), Kind::TimedOut, "The request timed out."},
        {QStringLiteral("http://127.0.0.1:%1/").arg(freePort()), Kind::Transport, "Connection refused"},
    };
    for (const auto& [url, kind, description] : cases) {
        try {
            await(m_downloader.download(url), 10s);
            ADD_FAILURE() << "downloaded " << url.toStdString();
        } catch (const ProfileDownloaderError& e) {
            EXPECT_EQ(e.description(), description);
            EXPECT_EQ(e.kind(), kind) << description.toStdString();
            EXPECT_EQ(e.statusCode(), kind == Kind::HttpStatus ? 404 : 0) << description.toStdString();
        }
        EXPECT_EQ(leftovers(), QStringList()) << description.toStdString();
    }

    for (const QString& bad : QStringList{"no scheme here", "http://exa mple.com/"})
        EXPECT_EQ(errorText<ProfileDownloaderError>(m_downloader.download(bad)), "Bad URL: " + bad);
    EXPECT_EQ(leftovers(), QStringList());
}

TEST(ProfileDownloaderHeaderTest, ContentDispositionForms)
{
    const auto name = [](const char* header) {
        return ProfileDownloader::remoteNameFromHeader(QString::fromUtf8(header));
    };
    EXPECT_EQ(name("attachment; filename=plain.yaml"), "plain.yaml");
    EXPECT_EQ(name("attachment; FileName='single quoted.yaml'"), "single quoted.yaml");
    EXPECT_EQ(name("attachment; filename=%E6%9C%BA.yaml"), "机.yaml");
    // Malformed escapes or bytes that are not UTF-8 stay as written.
    EXPECT_EQ(name("attachment; filename=\"100%.yaml\""), "100%.yaml");
    EXPECT_EQ(name("attachment; filename*=UTF-8''%FF.yaml"), "%FF.yaml");
    EXPECT_EQ(name("attachment; filename*=utf-8'en'Work%20Sub"), "Work Sub");
    // The first file-name parameter wins.
    EXPECT_EQ(name("attachment; filename=first.yaml; filename*=UTF-8''second.yaml"), "first.yaml");
    EXPECT_EQ(name("attachment"), std::nullopt);
    EXPECT_EQ(name("inline; name=\"x.yaml\""), std::nullopt);
}

TEST(ProfileDownloaderHeaderTest, QuotaHeaderParsing)
{
    const auto info = [](const char* header) {
        return SubscriptionInfo::fromHeader(QString::fromUtf8(header));
    };
    EXPECT_EQ(info("upload=10; download=20; total=100; expire=0"), (SubscriptionInfo{10, 20, 100, 0}));
    EXPECT_EQ(info("Upload=5;DOWNLOAD = 7 ;  Total=+9"), (SubscriptionInfo{5, 7, 9, 0}));
    EXPECT_EQ(info("upload=-3; expire=1700000000"), (SubscriptionInfo{-3, 0, 0, 1700000000}));
    // Unparsable, overflowing, doubled or unknown parts are skipped; the rest still counts.
    EXPECT_EQ(info("upload=1.5; download=99999999999999999999; total=4=4; bonus=1; expire=12; junk"),
              (SubscriptionInfo{0, 0, 0, 12}));
    EXPECT_EQ(info("upload=++5; total=8"), (SubscriptionInfo{0, 0, 8, 0}));
    EXPECT_EQ(info("plan=gold; upload=abc"), std::nullopt);
    EXPECT_EQ(info(""), std::nullopt);
}
