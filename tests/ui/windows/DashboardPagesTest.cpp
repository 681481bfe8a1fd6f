#include "../DesktopAppTest.h"
#include "app/RuleEditSession.h"
#include "controller/RateFormatter.h"
#include "history/CountryCoordinates.h"
#include "history/CountryFormatter.h"
#include "history/FlowDatabase.h"
#include "history/FlowFixtures.h"
#include "history/OverviewAggregator.h"
#include "support/TestSupport.h"
#include "ui/charts/TopList.h"
#include "ui/charts/WorldMap.h"
#include "ui/models/RuleListModel.h"
#include "ui/windows/LogicalRuleEditor.h"
#include "ui/windows/MainWindow.h"
#include "ui/windows/OverviewPage.h"
#include "ui/windows/RuleDraft.h"
#include "ui/windows/RuleEditorDialog.h"
#include "ui/windows/RulesPage.h"
#include "ui/windows/TrafficMapPage.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QToolTip>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

class DashboardPagesTest : public test::DesktopAppTest
{
public:
    QString profile(const QString& name) const
    {
        return workspace() + QStringLiteral("/profiles/") + name + ".yaml";
    }

    // The application with `active` as the active profile, its file written first when given.
    AppState& start(const QString& active, const QByteArray& bytes = {})
    {
        if (!bytes.isEmpty())
            test::writeFile(profile(active), bytes);
        completedOnboarding(active);
        makeState();
        test::await(m_state->reloadProfiles());
        return *m_state;
    }

    template <typename Page> Page& openPage(const QString& id)
    {
        auto* found = page<Page>(id);
        EXPECT_TRUE(found);
        return *found;
    }
};

QString figure(const QWidget& page, const QString& caption)
{
    for (const QLabel* label : page.findChildren<QLabel*>())
        if (label->accessibleName() == caption)
            return label->text();
    return QStringLiteral("(no figure %1)").arg(caption);
}

QList<std::pair<bool, QString>> listed(const RulesPage& page)
{
    QList<std::pair<bool, QString>> rows;
    for (const RuleEntry& entry : page.model().entries())
        rows.append({entry.enabled, entry.text});
    return rows;
}

} // namespace

TEST_F(DashboardPagesTest, OverviewShowsTheHistoryOfASingleFlowAndRunsOnlyWhileShown)
{
    AppState& state = start(QStringLiteral("Default"));
    FlowDatabase* db = state.history().flowDatabase();
    ASSERT_TRUE(db);
    db->recordOpened(test::connection({.id = "1",
                                       .start = QDateTime::currentDateTimeUtc(),
                                       .host = "a.example",
                                       .chains = {"Tokyo", "Proxy"},
                                       .upload = 100,
                                       .download = 2048}),
                     1, QStringLiteral("Default"));

    MainWindow& window = m_frontend.openMainWindow(QStringLiteral("overview"));
    const QStringList ids = window.pageIds();
    EXPECT_EQ(ids.first(), QStringLiteral("overview"));
    EXPECT_LT(ids.indexOf(QStringLiteral("map")), ids.indexOf(QStringLiteral("rules")));
    EXPECT_LT(ids.indexOf(QStringLiteral("rules")), ids.indexOf(QStringLiteral("profiles")));
    auto& overview = openPage<OverviewPage>(QStringLiteral("overview"));
    for (const QString& key : OverviewPage::widgetKeys())
        EXPECT_EQ(overview.tile(key)->objectName(), key);

    ASSERT_TRUE(
        test::waitFor([&] { return figure(overview, QStringLiteral("All-Time Traffic")) == "2.1 KB"; }, 10s))
        << figure(overview, QStringLiteral("All-Time Traffic")).toStdString();
    EXPECT_EQ(figure(overview, QStringLiteral("All-Time Connections")), QStringLiteral("1"));
    EXPECT_EQ(figure(overview, QStringLiteral("Unique Hosts")), QStringLiteral("1"));
    const auto rows = [&](const QString& key) {
        QStringList texts;
        for (const TopList::Row& row : overview.tile(key)->findChild<TopList*>()->rows())
            texts.append(row.label + QLatin1Char('=') + QString::number(row.value));
        return texts;
    };
    EXPECT_EQ(rows(QStringLiteral("topDomains")), QStringList{"a.example=2148"});
    EXPECT_EQ(rows(QStringLiteral("topNodes")), QStringList{"Tokyo=2148"});
    EXPECT_EQ(rows(QStringLiteral("policyGroups")), QStringList{"Proxy=2048"});

    ASSERT_TRUE(overview.aggregator()->isRunning());
    window.showPage(QStringLiteral("profiles"));
    EXPECT_FALSE(overview.aggregator()->isRunning());
}

TEST_F(DashboardPagesTest, RulesPageEditsOnlyTheRulesLinesAndUndoPutsTheBytesBack)
{
    // Odd indentation, comments between entries, quoted and disabled entries, CRLF line ends.
    const QByteArray original =
        "port: 7890\r\nrules:\r\n   - DOMAIN,a.example,DIRECT\r\n   # the quoted one\r\n"
        "   - 'DOMAIN-SUFFIX,b.example,DIRECT'\r\n   #- IP-CIDR,10.0.0.0/8,DIRECT\r\n\r\n"
        "   - \"MATCH,DIRECT\"\r\nproxies: []\r\n";
    start(QStringLiteral("Odd"), original);
    auto& rules = openPage<RulesPage>(QStringLiteral("rules"));
    using Listing = QList<std::pair<bool, QString>>;
    EXPECT_EQ(listed(rules), (Listing{{true, "DOMAIN,a.example,DIRECT"},
                                      {true, "DOMAIN-SUFFIX,b.example,DIRECT"},
                                      {false, "IP-CIDR,10.0.0.0/8,DIRECT"},
                                      {true, "MATCH,DIRECT"}}));
    EXPECT_EQ(rules.model().index(1, RuleListModel::TypeColumn).data().toString(),
              QStringLiteral("DOMAIN-SUFFIX"));

    // Each act of the page gives the bytes RuleStore gives for the same edit on a copy of the file.
    const QString copy = m_dir.filePath(QStringLiteral("copy.yaml"));
    struct Act
    {
        const char* name;
        std::function<QCoro::Task<>(RulesPage&)> act;
        std::function<void(const QString&)> same;
        const char* status;
        std::pair<bool, QString> entry0;
    };
    const QList<Act> acts{
        {"toggle",
         [](RulesPage& p) { return p.toggleRule(2); },
         [](const QString& f) { RuleStore::toggleRule(2, f); },
         "Rule enabled.",
         {true, "DOMAIN,a.example,DIRECT"}},
        {"move",
         [](RulesPage& p) { return p.moveRule(0, 1); },
         [](const QString& f) { RuleStore::swapRules(0, 1, f); },
         "Rule moved.",
         {true, "DOMAIN-SUFFIX,b.example,DIRECT"}},
        {"insert",
         [](RulesPage& p) { return p.insertRule("GEOIP,JP,DIRECT", 0); },
         [](const QString& f) { RuleStore::insertRule("GEOIP,JP,DIRECT", 0, f); },
         "Rule added.",
         {true, "GEOIP,JP,DIRECT"}},
        {"update",
         [](RulesPage& p) { return p.updateRule(0, "GEOIP,US,REJECT"); },
         [](const QString& f) { RuleStore::updateRule(0, "GEOIP,US,REJECT", f); },
         "Rule saved.",
         {true, "GEOIP,US,REJECT"}},
        {"delete",
         [](RulesPage& p) { return p.deleteRule(0); },
         [](const QString& f) { RuleStore::deleteRule(0, f); },
         "Rule deleted.",
         {true, "DOMAIN-SUFFIX,b.example,DIRECT"}},
        {"out of bounds",
         [](RulesPage& p) { return p.deleteRule(9); },
         [](const QString&) {},
         "Rule index 9 is out of bounds (total: 4)",
         {true, "DOMAIN-SUFFIX,b.example,DIRECT"}},
    };
    for (const Act& act : acts) {
        SCOPED_TRACE(act.name);
        const QByteArray before = test::readFile(profile("Odd")).toUtf8();
        test::writeFile(copy, before);
        act.same(copy);
        test::await(act.act(rules));
        EXPECT_EQ(rules.statusText(), QString::fromUtf8(act.status));
        EXPECT_EQ(test::readFile(profile("Odd")), test::readFile(copy));
        EXPECT_EQ(listed(rules).value(0), act.entry0);
    }

    // Undo puts back the bytes from before the last edit that changed the file; then nothing is left to undo.
    const QByteArray edited = test::readFile(profile("Odd")).toUtf8();
    test::await(rules.insertRule("DOMAIN,c.example,REJECT", 1));
    EXPECT_TRUE(rules.undoOffered());
    test::await(rules.undo());
    EXPECT_EQ(test::readFile(profile("Odd")).toUtf8(), edited);
    EXPECT_FALSE(rules.session().canUndo());
}

TEST_F(DashboardPagesTest, WebpageRuleOpensTheEditorPrefilledOverTheRulesPage)
{
    start(QStringLiteral("Web"), "rules:\n  - MATCH,DIRECT\n");
    // Before the window exists, then with the window on another page.
    for (const QString& shown : {QString(), QStringLiteral("logs")}) {
        SCOPED_TRACE(shown.toStdString());
        if (!shown.isEmpty())
            m_frontend.openMainWindow(shown).hide();
        m_state->setBrowserRuleEditorMode(
            RuleEditorMode::createPrefill({MihomoRuleType::domainSuffix, QStringLiteral("news.example")}));
        MainWindow& window = m_frontend.openMainWindow();
        auto* rules = qobject_cast<RulesPage*>(window.page(QStringLiteral("rules")));
        ASSERT_TRUE(test::waitFor([&] { return rules && rules->editor(); }, 5s));
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.currentPage(), QStringLiteral("rules"));
        EXPECT_EQ(rules->editor()->ruleText(), QStringLiteral("DOMAIN-SUFFIX,news.example,DIRECT"));
        EXPECT_FALSE(m_state->browserRuleEditorMode());
        rules->editor()->reject();
        ASSERT_TRUE(test::waitFor([&] { return !rules->editor(); }, 5s));
    }
}

TEST_F(DashboardPagesTest, RuleTheKernelRejectsSaysWhyAndUndoRestoresTheFile)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    const QByteArray original = "rules:\n  - DOMAIN,example.com,DIRECT\n  - MATCH,DIRECT\n";
    test::writeFile(profile(QStringLiteral("Work")), original);
    AppState& state = bootWithKernel(QStringLiteral("Work"));
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    auto& rules = openPage<RulesPage>(QStringLiteral("rules"));

    test::await(rules.updateRule(0, QStringLiteral("DOMAIN,example.org,Nowhere")), 60s);
    EXPECT_EQ(rules.statusText(),
              QStringLiteral("rules[0] [DOMAIN,example.org,Nowhere] error: proxy [Nowhere] not found"));
    EXPECT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    ASSERT_TRUE(rules.undoOffered());
    test::await(rules.undo(), 60s);
    EXPECT_EQ(test::readFile(profile("Work")).toUtf8(), original);

    // An edit the kernel takes is in the configuration it runs.
    test::await(rules.insertRule(QStringLiteral("DOMAIN-SUFFIX,example.net,REJECT"), 0), 60s);
    EXPECT_EQ(rules.statusText(), QStringLiteral("Rule added. The kernel reloaded the rules."));
    EXPECT_TRUE(
        test::readFile(state.paths().runtimeConfigFile()).contains("DOMAIN-SUFFIX,example.net,REJECT"));
}

TEST_F(DashboardPagesTest, RuleEditorChecksRulesAndBuildsLogicalOnesVisually)
{
    struct Case
    {
        const char* text;
        const char* problem;
    };
    for (const Case& c : {
             Case{"DOMAIN-SUFFIX,example.com,Proxy", ""},
             Case{"MATCH,DIRECT", ""},
             Case{"IP-CIDR,10.0.0.0/8,DIRECT,no-resolve", ""},
             Case{"IP-CIDR,10.0.0.300/8,DIRECT",
                  "\"10.0.0.300/8\" is not an IPv4 network (for example 192.168.0.0/16)"},
             Case{"IP-CIDR6,10.0.0.0/8,DIRECT",
                  "\"10.0.0.0/8\" is not an IPv6 network (for example 2001:db8::/32)"},
             Case{"DST-PORT,80/8000-9000,DIRECT", ""},
             Case{"DST-PORT,70000,DIRECT",
                  "\"70000\" is not a port, a range (8000-8999) or a list of them (80/443)"},
             Case{"DOMAIN,,DIRECT", "DOMAIN needs a payload, for example example.com"},
             Case{"DOMAIN,example.com,", "Choose a policy"},
             Case{"DOMAIN,example.com,DIRECT,no-resolve", "DOMAIN does not take the option \"no-resolve\""},
             Case{"DOMAIN-REGEX,a[,DIRECT",
                  "\"a[\" is not a valid regular expression: missing terminating ] for character class"},
             Case{"NOT,((DOMAIN,a.example),(NETWORK,UDP)),DIRECT", "NOT takes exactly one condition"},
             Case{"AND,((DOMAIN,a.example),(OR,((NETWORK,UDP),(DST-PORT,x)))),DIRECT",
                  "\"x\" is not a port, a range (8000-8999) or a list of them (80/443)"},
             Case{"FOO,bar,DIRECT", "Unknown rule type \"FOO\""},
         }) {
        EXPECT_EQ(RuleDraft::parse(QString::fromUtf8(c.text)).problem(), QString::fromUtf8(c.problem))
            << c.text;
    }
    // The history's rule names meet the profile's.
    EXPECT_EQ(RuleListModel::hitKey("DomainSuffix", "a"), RuleListModel::hitKey("DOMAIN-SUFFIX", "a"));
    EXPECT_EQ(RuleListModel::hitKey("Process", "curl"), RuleListModel::hitKey("PROCESS-NAME", "curl"));

    RuleEditorDialog dialog({QStringLiteral("Proxy"), QStringLiteral("DIRECT")});
    dialog.type().setCurrentText(QStringLiteral("AND"));
    EXPECT_EQ(dialog.payload().placeholderText(), QStringLiteral("((DOMAIN,example.com),(NETWORK,UDP))"));
    LogicalRuleEditor& conditions = dialog.logicalEditor();
    conditions.addCondition(QStringLiteral("DOMAIN"), QStringLiteral("example.com"));
    conditions.tree().setCurrentItem(nullptr);
    conditions.addGroup(QStringLiteral("NOT"));
    conditions.addCondition(QStringLiteral("NETWORK"), QStringLiteral("UDP"));
    dialog.policy().setCurrentText(QStringLiteral("DIRECT"));
    EXPECT_EQ(dialog.ruleText(), QStringLiteral("AND,((DOMAIN,example.com),(NOT,((NETWORK,UDP)))),DIRECT"));
    EXPECT_EQ(dialog.problem(), QString());

    // An existing logical rule comes back into the tree and out again unchanged.
    const QString nested =
        QStringLiteral("OR,((DOMAIN-SUFFIX,a.example),(AND,((NETWORK,TCP),(DST-PORT,443)))),Proxy");
    dialog.setRule(nested);
    EXPECT_EQ(conditions.tree().topLevelItemCount(), 2);
    EXPECT_EQ(dialog.ruleText(), nested);
    dialog.payload().setText(QStringLiteral("((DOMAIN,a.example)"));
    EXPECT_FALSE(dialog.problem().isEmpty());
}

TEST_F(DashboardPagesTest, MapPageShadesByTrafficNamesTheHoveredCountryAndListsThoseWithoutOutlines)
{
    AppState& state = start(QStringLiteral("Default"));
    FlowDatabase* db = state.history().flowDatabase();
    ASSERT_TRUE(db);
    // Three square countries; "ZZ" has traffic but no outline.
    const auto square = [](const char* iso, double lat, double lng) {
        const QJsonArray ring{QJsonArray{lng - 5, lat - 5}, QJsonArray{lng + 5, lat - 5},
                              QJsonArray{lng + 5, lat + 5}, QJsonArray{lng - 5, lat + 5}};
        return QJsonObject{
            {"iso", iso}, {"name", iso}, {"rings", QJsonArray{ring}}, {"label", QJsonArray{lat, lng}}};
    };
    test::writeFile(
        QDir(state.paths().workDirectory()).filePath(QStringLiteral("countries.json")),
        QJsonDocument(QJsonArray{square("CN", 35, 105), square("JP", 36, 138), square("US", 40, -100)})
            .toJson());
    db->insertGeoCache({{"203.0.113.1", "JP", {}, {}},
                        {"198.51.100.1", "US", {}, {}},
                        {"198.51.100.2", "JP", {}, {}},
                        {"198.51.100.3", "ZZ", {}, {}}});
    const auto flow = [&](const char* id, QStringList chains, const char* remote, const char* destination,
                          qint64 bytes) {
        db->recordOpened(test::connection({.id = id,
                                           .start = QDateTime::currentDateTimeUtc(),
                                           .chains = std::move(chains),
                                           .download = bytes,
                                           .destinationIP = destination,
                                           .remote = remote}),
                         1, QStringLiteral("Default"));
    };

    auto& mapPage = openPage<TrafficMapPage>(QStringLiteral("map"));
    WorldMap& map = mapPage.map();
    map.setFixedSize(800, 480);
    const auto listed = [&] {
        QStringList rows;
        for (const TopList::Row& row : mapPage.countries().rows())
            rows.append(row.label + QLatin1Char('=') + QString::number(row.value));
        return rows;
    };
    const auto shown = [](const char* iso, int bytes) {
        return CountryFormatter::display(QString::fromLatin1(iso)) + QLatin1Char('=') +
               QString::number(bytes);
    };
    struct Step
    {
        const char* history;
        std::function<void()> record;
        QStringList countries;
        int legs;
    };
    const QList<Step> steps{
        {"a single flow through Japan to the United States",
         [&] {
             flow("1", {"Tokyo", "Proxy"}, "203.0.113.1", "198.51.100.1", 1000);
         },
         {shown("JP", 1000), shown("US", 1000)},
         2},
        // Direct to Japan; through Japan to the country without an outline; through a server of the
        // same node without a known place (the node's country stands in) to nowhere known.
        {"flows to places with and without outlines",
         [&] {
             flow("2", {"DIRECT"}, "", "198.51.100.2", 10);
             flow("3", {"Tokyo"}, "203.0.113.1", "198.51.100.3", 5);
             flow("4", {"Tokyo"}, "203.0.113.9", "198.51.100.9", 1);
         },
         {shown("JP", 1016), shown("US", 1000), shown("ZZ", 5), shown("Unknown", 1)},
         5},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.history);
        step.record();
        mapPage.load();
        ASSERT_TRUE(test::waitFor([&] { return listed() == step.countries; }, 10s))
            << listed().join(' ').toStdString();
        map.grab();
        EXPECT_EQ(map.drawnLegs(), step.legs);
    }

    // The projection's centre (0°, 150° E) is the widget's; the sea names no country.
    EXPECT_EQ(map.widgetPoint(0, 150), QPointF(400, 240));
    EXPECT_EQ(map.countryAt(map.widgetPoint(-40, -140)), QString());
    // Deeper shading for more traffic: Japan, then the United States, then China (none), away from the sea.
    const QImage drawn = map.grab().toImage();
    const QColor sea = map.palette().color(QPalette::Base);
    const auto depth = [&](double lat, double lng) {
        const QColor at = drawn.pixelColor(map.widgetPoint(lat, lng).toPoint());
        return std::abs(at.red() - sea.red()) + std::abs(at.green() - sea.green()) +
               std::abs(at.blue() - sea.blue());
    };
    EXPECT_GT(depth(32, 141), depth(36, -96));
    EXPECT_GT(depth(36, -96), depth(31, 101));
    EXPECT_GT(depth(31, 101), 0);

    QMouseEvent hover(QEvent::MouseMove, map.widgetPoint(36, 138), map.mapToGlobal(map.widgetPoint(36, 138)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&map, &hover);
    EXPECT_EQ(QToolTip::text(), CountryFormatter::display(QStringLiteral("JP")) +
                                    QStringLiteral("\nDestination: 10 B\nThrough proxies there: 1006 B"));
}
