#pragma once

#include "FlowStatistics.h"
#include "controller/TrafficSnapshot.h"

#include <QList>

namespace tarnwick {

class FlowDatabase;

// The dashboard's historical figures, all read from the flow database in one load.
struct DashboardHistory
{
    quint64 totalTx = 0;
    quint64 totalRx = 0;
    int totalConnections = 0;
    int uniqueHosts = 0;
    QList<NamedBytes> topDomains;
    QList<NamedBytes> topNodes;
    QList<RuleHits> topRules;
    QList<NamedBytes> trafficByRouteToday;
    QList<NamedBytes> trafficByRouteMonth;
    quint64 trafficYesterday = 0;
    quint64 trafficLastMonth = 0;
    QList<NamedBytes> policyGroupTraffic;
    QList<DailyRouteBytes> dailyTraffic;
    QList<HourlyRouteBytes> hourlyTrafficToday;
    QList<DailyRouteBytes> weeklyTraffic;
    QList<NamedBytes> topSourceIPs;
    QList<NamedBytes> topDestinationCountries;
    QList<NamedBytes> topTunnelEndpoints;

    // Runs every query of the dashboard against `db` for the profile (all profiles when absent), with
    // calendar windows in local time around `now`. Blocks on the database's queue.
    static DashboardHistory load(FlowDatabase& db, const std::optional<QString>& profile,
                                 const QDateTime& now);

    bool operator==(const DashboardHistory&) const = default;
};

// What the overview dashboard shows: live rates from the stores and the history from the database.
struct DashboardSnapshot
{
    qint64 uploadRate = 0;
    qint64 downloadRate = 0;
    int activeConnections = 0;
    int closedConnections = 0;
    qint64 memoryBytes = 0;
    QList<TrafficSnapshot> trafficHistory;
    qint64 sessionTotalUpload = 0;
    qint64 sessionTotalDownload = 0;
    qint64 appMemoryBytes = 0;
    DashboardHistory history;

    bool operator==(const DashboardSnapshot&) const = default;
};

} // namespace tarnwick
