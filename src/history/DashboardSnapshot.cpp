#include "DashboardSnapshot.h"

#include "FlowDatabase.h"

namespace tarnwick {

DashboardHistory DashboardHistory::load(FlowDatabase& db, const std::optional<QString>& profile,
                                        const QDateTime& now)
{
    constexpr int kTop = 5;
    const QDateTime ever = FlowDatabase::distantPast();
    const QDate date = now.date();
    const QDateTime today = date.startOfDay();
    const QDateTime yesterday = today.addDays(-1);
    const QDateTime tomorrow = today.addDays(1);
    const QDateTime month = QDate(date.year(), date.month(), 1).startOfDay();
    const QDateTime lastMonth = month.addMonths(-1);

    DashboardHistory h;
    const TrafficTotals total = db.totalTraffic(ever, std::nullopt, profile);
    h.totalTx = total.tx;
    h.totalRx = total.rx;
    h.totalConnections = db.connectionCount(ever, profile);
    h.uniqueHosts = db.uniqueDomainCount(ever, profile);
    h.topDomains = db.trafficByDomain(ever, profile, kTop);
    h.topNodes = db.trafficByNode(ever, profile, kTop);
    h.topRules = db.topRules(ever, profile, kTop);
    h.trafficByRouteToday = db.trafficByRoute(today, profile);
    h.trafficByRouteMonth = db.trafficByRoute(month, profile);
    const TrafficTotals yesterdays = db.totalTraffic(yesterday, today, profile);
    h.trafficYesterday = yesterdays.tx + yesterdays.rx;
    const TrafficTotals lastMonths = db.totalTraffic(lastMonth, month, profile);
    h.trafficLastMonth = lastMonths.tx + lastMonths.rx;
    h.policyGroupTraffic = db.trafficByPolicyGroup(ever, profile, kTop);
    h.dailyTraffic = db.dailyTrafficByRoute(now.addDays(-30), profile);
    h.hourlyTrafficToday = db.hourlyTrafficByRoute(today, tomorrow, profile);
    h.weeklyTraffic = db.dailyTrafficByRoute(today.addDays(-7), profile);
    h.topSourceIPs = db.trafficBySourceIP(ever, profile, kTop);
    h.topDestinationCountries = db.trafficByDestinationCountry(ever, profile, kTop);
    h.topTunnelEndpoints = db.trafficByProxyCountry(ever, profile, kTop);
    return h;
}

} // namespace tarnwick
