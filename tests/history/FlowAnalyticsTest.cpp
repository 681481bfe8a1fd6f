#include "FlowFixtures.h"
#include "history/FlowDatabase.h"
#include "support/TestSupport.h"

#include <random>
#include <time.h>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

// Runs the test in the given time zone (SQLite's 'localtime' and Qt's local time both follow TZ).
class TimeZoneScope
{
public:
    explicit TimeZoneScope(const char* zone) : m_previous(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZoneScope()
    {
        qputenv("TZ", m_previous);
        tzset();
    }

private:
    QByteArray m_previous;
};

// Node names as real subscriptions spell them: the tunnel's country comes from the GeoIP cache when it
// knows the tunnel's address, else from the node's name.
const QString kJapanNode = QString::fromUtf8("\U0001F1EF\U0001F1F5 日本2|@ripaojiedian");
const QString kBritainNode = "GB_speednode_0094";

void recordKnownFlows(FlowDatabase& db)
{
    const QStringList tokyo{kJapanNode, "Proxy"}, direct, reject{"REJECT"},
        britain{kBritainNode, "Auto", "Proxy"};
    db.insertGeoCache({{"8.8.8.8", "US", {}, {}},
                       {"8.8.4.4", "US", {}, {}},
                       {"6.6.6.6", "DE", {}, {}},
                       {"10.0.0.5", "LAN", {}, {}}});
    const auto home = QStringLiteral("Home");
    db.recordOpened(connection({"a", local("2024-03-31 23:59:30"), "www.google.com", tokyo, 100, 1000,
                                "8.8.8.8", "5.5.5.5", "DomainSuffix", "google.com"}),
                    1, home);
    db.recordOpened(connection({"b", local("2024-04-01 00:00:00"), "10.0.0.5", direct, 10, 20, "10.0.0.5", "",
                                "IPCIDR", "10.0.0.0/8", "192.168.1.2"}),
                    1, home);
    db.recordOpened(connection({"c", local("2024-04-01 09:15:00"), "ads.example", reject, 0, 0, "", "",
                                "DomainKeyword", "ads"}),
                    1, home);
    db.recordOpened(connection({"d", local("2024-04-01 09:45:00"), "nowhere.invalid", britain, 1, 2, "",
                                "6.6.6.6", "DomainSuffix", "google.com"}),
                    1, "Work");
    db.recordOpened(connection({"e", local("2024-04-01 10:00:00"), "www.google.com", tokyo, 50, 500,
                                "8.8.4.4", "5.5.5.5", "Match", ""}),
                    1, home);
    db.recordClosed(connection({"e", local("2024-04-01 10:00:00"), "www.google.com", tokyo, 60, 600}));
}

class KnownFlowsTest : public testing::TestWithParam<FlowDatabase::Answering>
{};

} // namespace

TEST_P(KnownFlowsTest, EveryFigureMatchesTheHandComputedValue)
{
    const TimeZoneScope zone("Europe/Berlin");
    QTemporaryDir dir;
    FlowDatabase db{dir.path(), GetParam()};
    recordKnownFlows(db);
    const QDateTime ever = FlowDatabase::distantPast();
    const QDateTime today = local("2024-04-01 00:00:00");

    EXPECT_EQ(db.totalTraffic(ever, {}, {}), (TrafficTotals{171, 1622}));
    EXPECT_EQ(db.totalTraffic(local("2024-03-31 00:00:00"), today, {}), (TrafficTotals{100, 1000}));
    EXPECT_EQ(db.totalTraffic(local("2024-03-01 00:00:00"), today, {}), (TrafficTotals{100, 1000}));
    EXPECT_EQ(db.connectionCount(ever, {}), 5);
    EXPECT_EQ(db.connectionCount(ever, "Work"), 1);
    EXPECT_EQ(db.uniqueDomainCount(ever, {}), 4);
    EXPECT_EQ(db.trafficByDomain(ever, {}, 5),
              (QList<NamedBytes>{
                  {"www.google.com", 1760}, {"10.0.0.5", 30}, {"nowhere.invalid", 3}, {"ads.example", 0}}));
    EXPECT_EQ(db.trafficByNode(ever, {}, 2), (QList<NamedBytes>{{kJapanNode, 1760}, {"DIRECT", 30}}));
    EXPECT_EQ(db.trafficByNode(ever, "Work", 5), (QList<NamedBytes>{{kBritainNode, 3}}));
    EXPECT_EQ(db.trafficByPolicyGroup(ever, {}, 5), (QList<NamedBytes>{{"Proxy", 1600}, {"Auto", 2}}));
    EXPECT_EQ(db.topRules(ever, {}, 5), (QList<RuleHits>{{"DomainSuffix", "google.com", 2},
                                                         {"DomainKeyword", "ads", 1},
                                                         {"IPCIDR", "10.0.0.0/8", 1},
                                                         {"Match", "", 1}}));
    EXPECT_EQ(db.ruleHitCounts("Work"), (QList<RuleHits>{{"DomainSuffix", "google.com", 1}}));
    EXPECT_EQ(db.trafficByRoute(today, {}),
              (QList<NamedBytes>{{"Proxy", 663}, {"Direct", 30}, {"Reject", 0}}));
    EXPECT_EQ(db.dailyTrafficByRoute(local("2024-03-25 00:00:00"), {}),
              (QList<DailyRouteBytes>{{"2024-03-31", "Proxy", 1100},
                                      {"2024-04-01", "Direct", 30},
                                      {"2024-04-01", "Proxy", 663},
                                      {"2024-04-01", "Reject", 0}}));
    EXPECT_EQ(
        db.hourlyTrafficByRoute(today, today.addDays(1), {}),
        (QList<HourlyRouteBytes>{{0, "Direct", 30}, {9, "Proxy", 3}, {9, "Reject", 0}, {10, "Proxy", 660}}));
    EXPECT_EQ(db.trafficBySourceIP(ever, {}, 5),
              (QList<NamedBytes>{{"127.0.0.1", 1763}, {"192.168.1.2", 30}}));
    EXPECT_EQ(db.trafficByDestinationCountry(ever, {}, 5),
              (QList<NamedBytes>{{"US", 1760}, {"LAN", 30}, {"Unknown", 3}}));
    EXPECT_EQ(db.trafficByProxyCountry(ever, {}, 5), (QList<NamedBytes>{{"JP", 1760}, {"DE", 3}}));
    EXPECT_TRUE(db.trafficByProxyCountry(ever, {}, 0).isEmpty());
    EXPECT_EQ(db.trafficForFlightPaths(ever, {}), (QList<FlightPath>{{"CN", "JP", "US", 1760},
                                                                     {"CN", "DIRECT", "LAN", 30},
                                                                     {"CN", "DE", "Unknown", 3},
                                                                     {"CN", "DIRECT", "Unknown", 0}}));
}

INSTANTIATE_TEST_SUITE_P(Answering, KnownFlowsTest,
                         testing::Values(FlowDatabase::Answering::summarised,
                                         FlowDatabase::Answering::direct));

namespace {

// A varied history: thousands of flows over 70 days, several profiles, rows on bucket and day edges.
void recordVariedFlows(FlowDatabase& db, std::mt19937& random, int count, const QString& prefix)
{
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const double now = double(QDateTime::currentSecsSinceEpoch());
    const QStringList profiles{"", "A", "B"};
    QList<GeoCacheEntry> geo;
    for (int i = 0; i < count; ++i) {
        FlowShape shape;
        shape.id = prefix + QString::number(pick(count));
        double start = now - 70 * 86400.0 + pick(72 * 86400);
        switch (pick(6)) {
        case 0: // on a quarter hour, or a hair before one
            start = std::floor(start / 900) * 900 - (pick(2) ? 0.0003 : 0);
            break;
        case 1:
            start += pick(1000) / 1000.0;
            break;
        default:
            break;
        }
        shape.start = QDateTime::fromMSecsSinceEpoch(qint64(start * 1000), Qt::UTC);
        shape.host = pick(10) ? QStringLiteral("host%1.example").arg(pick(300)) : QString();
        shape.destinationIP = pick(3) ? QStringLiteral("203.0.%1.%2").arg(pick(4)).arg(pick(50)) : QString();
        const int node = pick(24);
        if (node == 0)
            shape.chains = {};
        else if (node == 1)
            shape.chains = {"REJECT"};
        else if (node == 2)
            shape.chains = {"DIRECT"};
        else
            shape.chains = QStringList{node % 5 ? QStringLiteral("Node %1").arg(node)
                                                : QStringLiteral("Tokyo %1").arg(node)} +
                           QStringList{"Auto", "Proxy", "Final"}.mid(0, pick(4));
        shape.remote = pick(4) ? QStringLiteral("198.51.100.%1").arg(pick(20)) : QString();
        shape.sourceIP = pick(5) ? QStringLiteral("192.168.1.%1").arg(pick(8)) : QString();
        shape.upload = pick(50) ? qint64(random() % 5000000) : 0;
        shape.download = qint64(random() % 90000000);
        shape.rule = pick(8) ? QStringLiteral("Rule%1").arg(pick(12)) : QString();
        shape.payload = QStringLiteral("p%1").arg(pick(3));
        shape.process = pick(2) ? QStringLiteral("proc%1").arg(pick(10)) : QString();
        db.recordOpened(connection(shape), 1, profiles[pick(3)]);
        if (pick(2)) {
            shape.upload += random() % 1000000;
            shape.download += random() % 1000000;
            db.recordClosed(connection(shape));
        }
        if (pick(20) == 0)
            geo.append({pick(2) ? shape.destinationIP : shape.remote,
                        QStringList{"US", "JP", "DE", "LAN"}[pick(4)],
                        {},
                        {}});
    }
    db.insertGeoCache(geo);
}

// Every figure of the summarised database equals the plain SQL's, for each window and profile filter.
#define EXPECT_SAME_FIGURE(call) EXPECT_EQ(fast.call, reference.call) << #call
void expectSameFigures(FlowDatabase& fast, FlowDatabase& reference)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime today = now.date().startOfDay();
    const QDateTime month = QDate(today.date().year(), today.date().month(), 1).startOfDay();
    const QList<QDateTime> sinces{FlowDatabase::distantPast(),
                                  today,
                                  month,
                                  month.addMonths(-1),
                                  now.addDays(-30),
                                  today.addDays(-7),
                                  now.addSecs(-86400 * 45 - 1234).addMSecs(567)};
    for (const std::optional<QString>& profile :
         {std::optional<QString>(), std::optional<QString>("A"), std::optional<QString>(""),
          std::optional<QString>("none")}) {
        SCOPED_TRACE(profile.value_or("(all)").toStdString());
        for (const QDateTime& since : sinces) {
            SCOPED_TRACE(since.toString(Qt::ISODateWithMs).toStdString());
            EXPECT_SAME_FIGURE(trafficByDomain(since, profile, 5));
            EXPECT_SAME_FIGURE(trafficByNode(since, profile, 5));
            EXPECT_SAME_FIGURE(trafficByPolicyGroup(since, profile, 5));
            EXPECT_SAME_FIGURE(topRules(since, profile, 5));
            EXPECT_SAME_FIGURE(totalTraffic(since, {}, profile));
            EXPECT_SAME_FIGURE(totalTraffic(since.addDays(-1), since, profile));
            EXPECT_SAME_FIGURE(trafficByRoute(since, profile));
            EXPECT_SAME_FIGURE(dailyTrafficByRoute(since, profile));
            EXPECT_SAME_FIGURE(hourlyTrafficByRoute(since, since.addDays(1), profile));
            EXPECT_SAME_FIGURE(uniqueDomainCount(since, profile));
            EXPECT_SAME_FIGURE(connectionCount(since, profile));
            EXPECT_SAME_FIGURE(trafficBySourceIP(since, profile, 5));
            EXPECT_SAME_FIGURE(trafficByDestinationCountry(since, profile, 5));
            EXPECT_SAME_FIGURE(trafficByProxyCountry(since, profile, 5));
        }
        EXPECT_SAME_FIGURE(ruleHitCounts(profile));
    }
}
#undef EXPECT_SAME_FIGURE

class SummaryEqualsSqlTest : public testing::TestWithParam<const char*>
{};

} // namespace

TEST_P(SummaryEqualsSqlTest, AfterWritesCloseOutsAndPurges)
{
    const TimeZoneScope zone(GetParam());
    QTemporaryDir dir;
    std::mt19937 random(20240401);
    FlowDatabase fast{dir.path()};
    recordVariedFlows(fast, random, 2000, "x");
    FlowDatabase reference{dir.path(), FlowDatabase::Answering::direct};
    fast.rowCount();
    expectSameFigures(fast, reference);

    fast.purge(QDateTime::currentDateTime().addDays(-40).addMSecs(321));
    // The same ids again: close-outs meet stored rows that start after the new ones.
    recordVariedFlows(fast, random, 600, "x");
    fast.rowCount();
    expectSameFigures(fast, reference);

    // A fresh start builds the same totals from the file.
    FlowDatabase reopened{dir.path()};
    expectSameFigures(reopened, reference);
}

INSTANTIATE_TEST_SUITE_P(TimeZones, SummaryEqualsSqlTest,
                         testing::Values("Europe/Berlin", "Asia/Kathmandu", "America/St_Johns"));
