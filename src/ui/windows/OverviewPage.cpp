#include "OverviewPage.h"

#include "DesktopFrontend.h"
#include "PageHeader.h"
#include "app/AppState.h"
#include "controller/ConnectionStore.h"
#include "controller/RateFormatter.h"
#include "controller/TrafficStore.h"
#include "history/CountryFormatter.h"
#include "history/OverviewAggregator.h"
#include "ui/charts/AreaChart.h"
#include "ui/charts/ChartCard.h"
#include "ui/charts/RouteColors.h"
#include "ui/charts/SplitBar.h"
#include "ui/charts/StackedBarChart.h"
#include "ui/charts/TopList.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

QList<TopList::Row> rows(const QList<NamedBytes>& list, QString (*label)(const QString&) = nullptr)
{
    QList<TopList::Row> result;
    for (const NamedBytes& entry : list)
        result.append({label ? label(entry.name) : entry.name, double(entry.bytes)});
    return result;
}

QString orUnnamed(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("(no host)") : name;
}

QList<SplitBar::Part> routeParts(const QList<NamedBytes>& byRoute)
{
    QList<SplitBar::Part> parts;
    for (const QString& route : RouteColors::routes())
        for (const NamedBytes& entry : byRoute)
            if (entry.name == route)
                parts.append({route, double(entry.bytes)});
    return parts;
}

// Bars of one slot per label, each stacking its routes in the shared order.
template <typename Row, typename KeyOf>
QList<StackedBarChart::Bar> routeBars(const QStringList& labels, const QStringList& keys,
                                      const QList<Row>& rowsByRoute, KeyOf keyOf)
{
    QList<StackedBarChart::Bar> bars;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        StackedBarChart::Bar bar{labels[i], {}};
        for (const QString& route : RouteColors::routes())
            for (const Row& row : rowsByRoute)
                if (keyOf(row) == keys[i] && row.route == route)
                    bar.parts.append({route, double(row.bytes)});
        bars.append(bar);
    }
    return bars;
}

QString bytes(quint64 value)
{
    return RateFormatter::bytes(qint64(value));
}

QString count(qint64 value)
{
    return QLocale().toString(value);
}

} // namespace

const QStringList& OverviewPage::widgetKeys()
{
    static const QStringList keys{QStringLiteral("summaryBar"),
                                  QStringLiteral("trafficTrend"),
                                  QStringLiteral("metricsStack"),
                                  QStringLiteral("trafficSplit"),
                                  QStringLiteral("policyGroups"),
                                  QStringLiteral("trafficTimeline"),
                                  QStringLiteral("dailyTraffic"),
                                  QStringLiteral("topDomains"),
                                  QStringLiteral("topNodes"),
                                  QStringLiteral("topRules"),
                                  QStringLiteral("topSourceIPs"),
                                  QStringLiteral("topTunnelEndpoints"),
                                  QStringLiteral("topDestinationCountries")};
    return keys;
}

OverviewPage::OverviewPage(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend),
      m_hasHistory(frontend.state().history().flowDatabase() != nullptr)
{
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(new PageHeader(QStringLiteral("Overview"), this));
    if (!m_hasHistory) {
        auto* note = new QLabel(QStringLiteral("Traffic history is off: its database could not be opened, so "
                                               "only the live figures are shown. The log says why."),
                                this);
        note->setWordWrap(true);
        note->setAccessibleName(QStringLiteral("History note"));
        outer->addWidget(note);
    }
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(0, 0, 4, 0);
    grid->setSpacing(10);
    for (int column = 0; column < 3; ++column)
        grid->setColumnStretch(column, 1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    // Tiles in their order; each row of the grid is filled left to right.
    ChartCard* summary = addCard(QStringLiteral("summaryBar"), QStringLiteral("Summary"));
    auto* summaryRow = new QHBoxLayout;
    summary->body()->addLayout(summaryRow);
    const auto summaryFigure = [&](const QString& caption, bool history) {
        auto* box = new QVBoxLayout;
        auto* name = new QLabel(caption, summary);
        auto* value = new QLabel(summary);
        QFont font = value->font();
        font.setPointSizeF(font.pointSizeF() * 1.35);
        font.setWeight(QFont::DemiBold);
        value->setFont(font);
        value->setAccessibleName(caption);
        box->addWidget(name);
        box->addWidget(value);
        summaryRow->addLayout(box, 1);
        m_figures.insert(caption, value);
        if (history) {
            m_historyOnly.append(name);
            m_historyOnly.append(value);
        }
    };
    summaryFigure(QStringLiteral("Upload"), false);
    summaryFigure(QStringLiteral("Download"), false);
    summaryFigure(QStringLiteral("Connections"), false);
    summaryFigure(QStringLiteral("Session Total"), false);
    summaryFigure(QStringLiteral("All-Time Traffic"), true);
    summaryFigure(QStringLiteral("All-Time Connections"), true);
    summaryFigure(QStringLiteral("Unique Hosts"), true);

    ChartCard* trend = addCard(QStringLiteral("trafficTrend"), QStringLiteral("Live Traffic"));
    m_trend = new AreaChart(trend);
    m_trend->setFormatter([](double value) { return RateFormatter::rate(qint64(value)); });
    m_trend->setCapacity(m_frontend.state().trafficStore().historyLimit());
    trend->body()->addWidget(m_trend);

    ChartCard* metrics = addCard(QStringLiteral("metricsStack"), QStringLiteral("Metrics"));
    addFigure(metrics, QStringLiteral("Kernel Memory"), false);
    addFigure(metrics, QStringLiteral("App Memory"), false);
    addFigure(metrics, QStringLiteral("Closed Connections"), false);
    addFigure(metrics, QStringLiteral("Yesterday"), true);
    addFigure(metrics, QStringLiteral("Last Month"), true);
    metrics->body()->addStretch(1);

    ChartCard* split = addCard(QStringLiteral("trafficSplit"), QStringLiteral("Traffic Split"));
    const auto addSplit = [&](const QString& caption) {
        split->body()->addWidget(new QLabel(caption, split));
        auto* bar = new SplitBar(split);
        bar->setColors(&RouteColors::of);
        bar->setAccessibleName(QStringLiteral("Traffic split ") + caption.toLower());
        split->body()->addWidget(bar);
        return bar;
    };
    m_splitToday = addSplit(QStringLiteral("Today"));
    m_splitMonth = addSplit(QStringLiteral("This Month"));
    split->body()->addStretch(1);

    const auto addList = [&](const QString& key, const QString& title) {
        ChartCard* card = addCard(key, title);
        auto* list = new TopList(card);
        list->setAccessibleName(title);
        card->body()->addWidget(list);
        card->body()->addStretch(1);
        m_lists.insert(key, list);
        return list;
    };
    addList(QStringLiteral("policyGroups"), QStringLiteral("Policy Groups"));

    ChartCard* timeline = addCard(QStringLiteral("trafficTimeline"), QStringLiteral("Today by Hour"));
    m_hourly = new StackedBarChart(timeline);
    m_hourly->setColors(&RouteColors::of);
    timeline->body()->addWidget(m_hourly);

    ChartCard* daily = addCard(QStringLiteral("dailyTraffic"), QStringLiteral("Daily Traffic"));
    auto* spans = new QButtonGroup(daily);
    for (const int days : {7, 30}) {
        auto* button = new QToolButton(daily);
        button->setText(QStringLiteral("%1 days").arg(days));
        button->setCheckable(true);
        button->setChecked(days == m_dailySpan);
        button->setAutoRaise(true);
        spans->addButton(button, days);
        daily->addHeaderWidget(button);
    }
    connect(spans, &QButtonGroup::idClicked, this, [this](int days) {
        m_dailySpan = days;
        renderDaily();
    });
    m_daily = new StackedBarChart(daily);
    m_daily->setColors(&RouteColors::of);
    daily->body()->addWidget(m_daily);

    addList(QStringLiteral("topDomains"), QStringLiteral("Top Domains"));
    addList(QStringLiteral("topNodes"), QStringLiteral("Top Nodes"));
    addList(QStringLiteral("topRules"), QStringLiteral("Top Rules"))->setFormatter([](double hits) {
        return QStringLiteral("%1 hits").arg(QLocale().toString(qint64(hits)));
    });
    addList(QStringLiteral("topSourceIPs"), QStringLiteral("Source Addresses"));
    addList(QStringLiteral("topTunnelEndpoints"), QStringLiteral("Tunnel Endpoints"));
    addList(QStringLiteral("topDestinationCountries"), QStringLiteral("Target Countries"));

    // The grid: summary across; trend wide beside the metrics; then three to a row, daily traffic wide.
    const auto place = [&](const QString& key, int row, int column, int span = 1) {
        grid->addWidget(m_tiles.value(key), row, column, 1, span);
    };
    place(QStringLiteral("summaryBar"), 0, 0, 3);
    place(QStringLiteral("trafficTrend"), 1, 0, 2);
    place(QStringLiteral("metricsStack"), 1, 2);
    place(QStringLiteral("trafficSplit"), 2, 0);
    place(QStringLiteral("policyGroups"), 2, 1);
    place(QStringLiteral("trafficTimeline"), 2, 2);
    place(QStringLiteral("dailyTraffic"), 3, 0, 2);
    place(QStringLiteral("topDomains"), 3, 2);
    place(QStringLiteral("topNodes"), 4, 0);
    place(QStringLiteral("topRules"), 4, 1);
    place(QStringLiteral("topSourceIPs"), 4, 2);
    place(QStringLiteral("topTunnelEndpoints"), 5, 0);
    place(QStringLiteral("topDestinationCountries"), 5, 1);
    grid->setRowStretch(6, 1);

    for (QWidget* widget : std::as_const(m_historyOnly))
        widget->setVisible(m_hasHistory);
    render();
}

OverviewPage::~OverviewPage() = default;

ChartCard* OverviewPage::addCard(const QString& key, const QString& title)
{
    auto* card = new ChartCard(title, this);
    card->setObjectName(key);
    m_tiles.insert(key, card);
    // Tiles of the history alone are left out without a database.
    static const QStringList live{QStringLiteral("summaryBar"), QStringLiteral("trafficTrend"),
                                  QStringLiteral("metricsStack")};
    if (!live.contains(key))
        m_historyOnly.append(card);
    return card;
}

QLabel* OverviewPage::addFigure(ChartCard* card, const QString& caption, bool history)
{
    auto* row = new QHBoxLayout;
    auto* name = new QLabel(caption, card);
    auto* value = new QLabel(card);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setAccessibleName(caption);
    QFont font = value->font();
    font.setWeight(QFont::DemiBold);
    value->setFont(font);
    row->addWidget(name);
    row->addWidget(value, 1);
    card->body()->addLayout(row);
    m_figures.insert(caption, value);
    if (history) {
        m_historyOnly.append(name);
        m_historyOnly.append(value);
    }
    return value;
}

void OverviewPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_aggregator) {
        QPointer<AppState> state(&m_frontend.state());
        const auto live = [state](DashboardSnapshot& snapshot) {
            if (!state)
                return;
            const TrafficStore& traffic = state->trafficStore();
            const ConnectionStore& connections = state->connectionStore();
            snapshot.uploadRate = traffic.currentUpload();
            snapshot.downloadRate = traffic.currentDownload();
            snapshot.activeConnections = connections.activeCount();
            snapshot.closedConnections = int(connections.closedConnections().size());
            snapshot.memoryBytes = traffic.currentMemory();
            snapshot.trafficHistory = traffic.history();
            snapshot.sessionTotalUpload = traffic.totalUpload();
            snapshot.sessionTotalDownload = traffic.totalDownload();
            snapshot.appMemoryBytes = state->appMemoryBytes();
        };
        const auto profile = [state]() -> std::optional<QString> {
            return state ? state->activeProfileName() : std::nullopt;
        };
        m_aggregator =
            new OverviewAggregator(live, m_frontend.state().history().flowDatabase(), profile, this);
        connect(m_aggregator, &OverviewAggregator::snapshotChanged, this, &OverviewPage::render);
    }
    m_aggregator->start();
}

void OverviewPage::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_aggregator)
        m_aggregator->stop();
}

void OverviewPage::render()
{
    const DashboardSnapshot snapshot = m_aggregator ? m_aggregator->snapshot() : DashboardSnapshot{};
    m_figures[QStringLiteral("Upload")]->setText(RateFormatter::rate(snapshot.uploadRate));
    m_figures[QStringLiteral("Download")]->setText(RateFormatter::rate(snapshot.downloadRate));
    m_figures[QStringLiteral("Connections")]->setText(count(snapshot.activeConnections));
    m_figures[QStringLiteral("Session Total")]->setText(
        QStringLiteral("↑ %1  ↓ %2")
            .arg(RateFormatter::bytes(snapshot.sessionTotalUpload),
                 RateFormatter::bytes(snapshot.sessionTotalDownload)));
    m_figures[QStringLiteral("Kernel Memory")]->setText(RateFormatter::bytes(snapshot.memoryBytes));
    m_figures[QStringLiteral("App Memory")]->setText(RateFormatter::bytes(snapshot.appMemoryBytes));
    m_figures[QStringLiteral("Closed Connections")]->setText(count(snapshot.closedConnections));

    AreaChart::Series upload{QStringLiteral("Upload"), palette().color(QPalette::WindowText), {}};
    upload.color.setAlphaF(0.6);
    AreaChart::Series download{QStringLiteral("Download"), palette().color(QPalette::Highlight), {}};
    for (const TrafficSnapshot& sample : snapshot.trafficHistory) {
        upload.values.append(double(sample.upload));
        download.values.append(double(sample.download));
    }
    m_trend->setSeries({download, upload});

    // The history changes once per load; its tiles are redrawn only then.
    if (!m_shownHistory || *m_shownHistory != snapshot.history)
        renderHistory(snapshot.history);
}

void OverviewPage::renderHistory(const DashboardHistory& history)
{
    m_shownHistory = history;
    m_figures[QStringLiteral("All-Time Traffic")]->setText(bytes(history.totalTx + history.totalRx));
    m_figures[QStringLiteral("All-Time Connections")]->setText(count(history.totalConnections));
    m_figures[QStringLiteral("Unique Hosts")]->setText(count(history.uniqueHosts));
    m_figures[QStringLiteral("Yesterday")]->setText(bytes(history.trafficYesterday));
    m_figures[QStringLiteral("Last Month")]->setText(bytes(history.trafficLastMonth));
    m_splitToday->setParts(routeParts(history.trafficByRouteToday));
    m_splitMonth->setParts(routeParts(history.trafficByRouteMonth));

    m_lists[QStringLiteral("policyGroups")]->setRows(rows(history.policyGroupTraffic));
    m_lists[QStringLiteral("topDomains")]->setRows(rows(history.topDomains, &orUnnamed));
    m_lists[QStringLiteral("topNodes")]->setRows(rows(history.topNodes));
    QList<TopList::Row> rules;
    for (const RuleHits& hits : history.topRules)
        rules.append({hits.payload.isEmpty() ? hits.rule : hits.rule + QLatin1Char(' ') + hits.payload,
                      double(hits.count)});
    m_lists[QStringLiteral("topRules")]->setRows(rules);
    m_lists[QStringLiteral("topSourceIPs")]->setRows(rows(history.topSourceIPs));
    m_lists[QStringLiteral("topTunnelEndpoints")]->setRows(
        rows(history.topTunnelEndpoints, &CountryFormatter::display));
    m_lists[QStringLiteral("topDestinationCountries")]->setRows(
        rows(history.topDestinationCountries, &CountryFormatter::display));

    QStringList hours;
    QStringList hourKeys;
    for (int hour = 0; hour < 24; ++hour) {
        hours.append(QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0')));
        hourKeys.append(QString::number(hour));
    }
    m_hourly->setBars(routeBars(hours, hourKeys, history.hourlyTrafficToday,
                                [](const HourlyRouteBytes& row) { return QString::number(row.hour); }));
    renderDaily();
}

void OverviewPage::renderDaily()
{
    if (!m_shownHistory)
        return;
    // One slot per calendar day up to today, so days without traffic show as gaps.
    const QList<DailyRouteBytes>& rows =
        m_dailySpan == 7 ? m_shownHistory->weeklyTraffic : m_shownHistory->dailyTraffic;
    const QDate today = QDate::currentDate();
    QStringList labels;
    QStringList keys;
    for (int back = m_dailySpan; back >= 0; --back) {
        const QDate day = today.addDays(-back);
        keys.append(day.toString(Qt::ISODate));
        labels.append(QLocale().toString(day, QStringLiteral("d MMM")));
    }
    m_daily->setBars(routeBars(labels, keys, rows, [](const DailyRouteBytes& row) { return row.day; }));
}

} // namespace tarnwick
