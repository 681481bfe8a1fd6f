#include "app/GeodataUpdater.h"

#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

class GeodataUpdaterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(m_paths.workDirectory());
        const std::pair<const char*, const char*> urls[] = {
            {"geoxGeoIP", "/geoip.dat"}, {"geoxGeoSite", "/geosite.dat"}, {"geoxMMDB", "/country.mmdb"},
            {"geoxASN", "/asn"},         {"geoxModelBin", "/model.bin"},
        };
        for (const auto& [key, path] : urls)
            m_settings.setText(QString::fromLatin1(key), m_server.url(QString::fromLatin1(path)));
    }

    QCoro::Task<> run(std::chrono::seconds retryAfter = std::chrono::hours(24))
    {
        GeodataUpdater updater(m_paths, m_settings, &m_network, retryAfter);
        co_await updater.run();
    }
    QString work(const char* name) const { return m_paths.workDirectory() + QLatin1String(name); }
    QStringList requested() const { return m_server.requestLines(); }

    // Answers by path, set before the first run; read-only afterwards (the server has its own thread).
    QMap<QByteArray, test::HttpResponse> m_answers;
    test::TestHttpServer m_server{[this](const test::HttpRequest& request) {
        return m_answers.value(request.path, test::HttpResponse{404, {}, "not here", false});
    }};
    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath("settings.ini")};
    ClashPaths m_paths{m_dir.filePath("ws")};
    QNetworkAccessManager m_network;
};

} // namespace

TEST_F(GeodataUpdaterTest, OnlyWholeUsableFilesReplaceAnything)
{
    TARNWICK_REQUIRE_GEODATA(mmdb);
    m_answers.insert("/geoip.dat", {200, {}, "geoip-bytes", false});
    // Announced whole, then the connection ends: a body cut short.
    m_answers.insert("/geosite.dat", {200, {{"Content-Length", "100000"}}, "the first bytes", false});
    m_answers.insert("/country.mmdb", {200, {}, "an HTML error page", false});
    m_answers.insert("/asn", {200, {}, "never asked for", false});
    // A usable database is left alone.
    ASSERT_TRUE(QFile::copy(mmdb, work("ASN.mmdb")));

    test::await(run());
    EXPECT_EQ(test::readFile(work("GeoIP.dat")), "geoip-bytes");
    EXPECT_FALSE(QFile::exists(work("GeoSite.dat")));
    EXPECT_FALSE(QFile::exists(work("Country.mmdb")));
    EXPECT_FALSE(QFile::exists(work("Model.bin")));
    EXPECT_TRUE(GeodataUpdater::isUsableDatabase(work("ASN.mmdb")));
    EXPECT_EQ(requested(), (QStringList{"/geoip.dat", "/geosite.dat", "/country.mmdb", "/model.bin"}));
    // Nothing half-written is left beside them.
    EXPECT_TRUE(QDir(m_paths.workDirectory()).entryList({"*.part"}).isEmpty());
}

TEST_F(GeodataUpdaterTest, BrokenDatabaseIsFetchedAgainAndFailuresWaitTheirTurn)
{
    TARNWICK_REQUIRE_GEODATA(mmdb);
    test::writeFile(work("Country.mmdb"), "cut short by an earlier version");
    test::writeFile(work("ASN.mmdb"), "also broken");
    QFile database(mmdb);
    ASSERT_TRUE(database.open(QIODevice::ReadOnly));
    m_answers.insert("/country.mmdb", {200, {}, database.readAll(), false});
    test::writeFile(work("GeoIP.dat"), "present");
    test::writeFile(work("GeoSite.dat"), "present");

    test::await(run());
    EXPECT_TRUE(GeodataUpdater::isUsableDatabase(work("Country.mmdb")));
    EXPECT_EQ(requested(), (QStringList{"/country.mmdb", "/asn", "/model.bin"}));
    // The broken one stays until a whole one replaces it.
    EXPECT_EQ(test::readFile(work("ASN.mmdb")), "also broken");

    // Failed a moment ago: not tried again before their time, then tried again.
    test::await(run());
    EXPECT_EQ(requested().size(), 3);
    test::await(run(0s));
    EXPECT_EQ(requested().size(), 5);
}
