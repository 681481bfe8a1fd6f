#pragma once

#include "history/DashboardSnapshot.h"

#include <QHash>
#include <QWidget>

class QLabel;

namespace tarnwick {

class AreaChart;
class ChartCard;
class DesktopFrontend;
class OverviewAggregator;
class SplitBar;
class StackedBarChart;
class TopList;

// The overview dashboard: the live figures and the traffic history's statistics as tiles, in the order
// of `widgetKeys()`. Its aggregator runs only while the page is shown; without a history database only
// the live tiles show, with a note why.
class OverviewPage final : public QWidget
{
    Q_OBJECT

public:
    explicit OverviewPage(DesktopFrontend& frontend, QWidget* parent = nullptr);
    ~OverviewPage() override;

    // "summaryBar", "trafficTrend", … in the order they are laid out.
    static const QStringList& widgetKeys();
    // The tile of a key.
    QWidget* tile(const QString& key) const { return m_tiles.value(key); }
    // Created when the page is first shown; null before.
    OverviewAggregator* aggregator() const { return m_aggregator; }
    bool hasHistory() const { return m_hasHistory; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    ChartCard* addCard(const QString& key, const QString& title);
    QLabel* addFigure(ChartCard* card, const QString& caption, bool history);
    void render();
    void renderHistory(const DashboardHistory& history);
    void renderDaily();

    DesktopFrontend& m_frontend;
    bool m_hasHistory;
    OverviewAggregator* m_aggregator = nullptr;
    QHash<QString, QWidget*> m_tiles;
    QHash<QString, QLabel*> m_figures;
    QList<QWidget*> m_historyOnly;
    AreaChart* m_trend = nullptr;
    SplitBar* m_splitToday = nullptr;
    SplitBar* m_splitMonth = nullptr;
    StackedBarChart* m_hourly = nullptr;
    StackedBarChart* m_daily = nullptr;
    QHash<QString, TopList*> m_lists;
    int m_dailySpan = 7;
    std::optional<DashboardHistory> m_shownHistory;
};

} // namespace tarnwick
