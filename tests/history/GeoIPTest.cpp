#include "FlowFixtures.h"
#include "history/CountryCoordinates.h"
#include "history/CountryFormatter.h"
#include "history/FlowDatabase.h"
#include "history/GeoIPResolver.h"
#include "history/MMDBReader.h"
#include "support/TestSupport.h"

#include <QFile>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

// A work directory with the provisioned databases (either may be left out).
QString workDirectory(const QTemporaryDir& dir, bool withASN)
{
    QFile::copy(countryMmdbPath(), dir.filePath("Country.mmdb"));
    if (withASN)
        QFile::copy(asnMmdbPath(), dir.filePath("ASN.mmdb"));
    return dir.path();
}

} // namespace

TEST(MMDBReaderTest, LooksUpCountriesAndNetworksAndSurvivesBadFiles)
{
    TARNWICK_REQUIRE_GEODATA(country);
    if (asnMmdbPath().isEmpty())
        GTEST_SKIP() << "ASN.mmdb is not provisioned (scripts/provision-asn.sh)";
    QTemporaryDir dir;
    MMDBReader reader{workDirectory(dir, true)};
    EXPECT_EQ(reader.lookupCountry("8.8.8.8"), "US");
    EXPECT_EQ(reader.lookupCountry("2001:4860:4860::8888"), "US");
    EXPECT_EQ(reader.lookupASN("8.8.8.8"), std::pair(QString("AS15169"), QString("Google LLC")));
    EXPECT_EQ(reader.lookupCountry("not an address"), std::nullopt);
    EXPECT_EQ(reader.lookupASN("10.0.0.1"), std::nullopt);

    // A truncated database and one that is not a database at all: nothing opens, nothing is found.
    QTemporaryDir broken;
    QFile source(country);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    writeFile(broken.filePath("Country.mmdb"), source.read(4096));
    writeFile(broken.filePath("ASN.mmdb"), QByteArray(5000, 'x'));
    MMDBReader bad{broken.path()};
    EXPECT_FALSE(bad.countryOpen());
    EXPECT_FALSE(bad.asnOpen());
    EXPECT_EQ(bad.lookupCountry("8.8.8.8"), std::nullopt);
    EXPECT_EQ(bad.lookupASN("8.8.8.8"), std::nullopt);
}

TEST(GeoIPResolverTest, CachesEachTextOnceWithItsMarker)
{
    TARNWICK_REQUIRE_GEODATA(country);
    QTemporaryDir workspace;
    QTemporaryDir work;
    FlowDatabase db{workspace.path()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const char* host : {"localhost", "no-such-host.invalid", "2001:4860:4860::8888"})
        db.recordOpened(connection({.id = host, .start = now, .host = host, .sourceIP = "127.0.0.1"}), 1, {});
    db.recordOpened(connection({"x", now, "dns.google", {}, 0, 0, "8.8.8.8", "10.1.2.3"}), 1, {});

    // Without ASN.mmdb public addresses get a country and no network.
    GeoIPResolver resolver{db, workDirectory(work, false), 10};
    EXPECT_EQ(resolver.resolveBatch(), 6);
    const QList<GeoCacheEntry> expected{
        {"127.0.0.1", "Local", {}, {}},   {"10.1.2.3", "LAN", {}, {}},
        {"8.8.8.8", "US", {}, {}},        {"2001:4860:4860::8888", "US", {}, {}},
        {"localhost", "Unknown", {}, {}}, {"no-such-host.invalid", "Unresolved", {}, {}}};
    for (const GeoCacheEntry& entry : expected)
        EXPECT_EQ(db.cachedGeo(entry.ip), entry) << entry.ip.toStdString();
    EXPECT_EQ(resolver.resolveBatch(), 0);
    EXPECT_EQ(db.trafficByDestinationCountry(FlowDatabase::distantPast(), {}, 5),
              (QList<NamedBytes>{{"US", 0}, {"Unknown", 0}, {"Unresolved", 0}}));
}

TEST(GeoIPResolverTest, TheTimerRunsBatchesUntilStopped)
{
    QTemporaryDir workspace;
    QTemporaryDir work;
    FlowDatabase db{workspace.path()};
    GeoIPResolver resolver{db, work.path(), 0.05};
    resolver.start();
    db.recordOpened(connection({.id = "1", .start = QDateTime::currentDateTimeUtc(), .host = "8.8.8.8"}), 1,
                    {});
    EXPECT_TRUE(waitFor([&] { return db.cachedGeo("8.8.8.8").has_value(); }));
    EXPECT_EQ(db.cachedGeo("8.8.8.8")->country, "Unknown");
    resolver.stop();
}

TEST(CountryFormatterTest, NamesAndFlags)
{
    const struct
    {
        QString code;
        QString name;
        QString flag;
    } cases[] = {
        {"Local", "Local Device", QString::fromUcs4(U"\U0001F310")},
        {"LAN", "Intranet", QString::fromUcs4(U"\U0001F310")},
        {"Unresolved", "Unresolved", QString::fromUcs4(U"\U0001F310")},
        {"", "Unknown", QString::fromUcs4(U"\U0001F310")},
        {"CLOUDFLARE", "Cloudflare CDN", QString::fromUcs4(U"\U0001F310")},
        {"us", "United States", QString::fromUcs4(U"\U0001F1FA\U0001F1F8")},
        {"JP", "Japan", QString::fromUcs4(U"\U0001F1EF\U0001F1F5")},
        {"XX", "XX", QString::fromUcs4(U"\U0001F310")},
        {"Q1", "Q1", QString::fromUcs4(U"\U0001F310")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CountryFormatter::localizedName(c.code), c.name) << c.code.toStdString();
        EXPECT_EQ(CountryFormatter::flagEmoji(c.code), c.flag) << c.code.toStdString();
    }
    EXPECT_EQ(CountryFormatter::display("JP"), QString::fromUcs4(U"\U0001F1EF\U0001F1F5 Japan"));
}

TEST(CountryCoordinatesTest, ReadsTheWorldAndProjectsIt)
{
    EXPECT_EQ(CountryCoordinates::project(0, 150), QPointF(0.5, 0.5));
    EXPECT_EQ(CountryCoordinates::project(0, -30), QPointF(0, 0.5));
    EXPECT_EQ(CountryCoordinates::project(89, 150).y(), 0);
    EXPECT_EQ(CountryCoordinates::project(-89, 150).y(), 1);
    EXPECT_NEAR(CountryCoordinates::project(35.7, 139.7).x(), 0.47139, 1e-4);

    const QString cached = qEnvironmentVariable("TARNWICK_CACHE", QDir::homePath() + "/.cache/tarnwick") +
                           "/geodata/countries.json";
    if (!QFile::exists(cached))
        GTEST_SKIP() << "countries.json is not provisioned (scripts/provision-world.sh)";
    const CountryCoordinates world{cached};
    EXPECT_GE(world.countries().size(), 170);
    const auto japan = world.centroid("jp");
    ASSERT_TRUE(japan.has_value());
    EXPECT_NEAR(japan->first, 36, 2);
    EXPECT_NEAR(japan->second, 138, 3);
    const auto bosnia = std::find_if(world.countries().begin(), world.countries().end(),
                                     [](const auto& c) { return c.iso == "BA"; });
    ASSERT_NE(bosnia, world.countries().end());
    EXPECT_EQ(bosnia->name, "Bosnia and Herz.");
    EXPECT_FALSE(bosnia->rings.isEmpty());
    EXPECT_TRUE(CountryCoordinates{"/nonexistent/countries.json"}.countries().isEmpty());
}
