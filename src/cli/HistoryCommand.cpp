#include "Commands.h"
#include "config/ClashPaths.h"
#include "history/DashboardSnapshot.h"
#include "history/FlowDatabase.h"
#include "platform/Error.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tarnwick::cli {

namespace {

constexpr const char* kUsage = "usage: tarnwick history [--workspace DIR] [--profile NAME] [--json]\n";

// Decimal units, as the dashboard shows them: "0 B", "512 B", "1.5 KB", "23.4 MB".
QString formatBytes(quint64 bytes)
{
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 6) {
        value /= 1000;
        ++unit;
    }
    const QString number = unit == 0 ? QString::number(bytes) : QString::number(value, 'f', 1);
    return number + u' ' + QLatin1String(units[unit]);
}

quint64 sum(const QList<NamedBytes>& rows)
{
    quint64 total = 0;
    for (const NamedBytes& row : rows)
        total += row.bytes;
    return total;
}

QJsonArray namedJson(const QList<NamedBytes>& rows)
{
    QJsonArray array;
    for (const NamedBytes& row : rows)
        array.append(
            QJsonObject{{QStringLiteral("name"), row.name}, {QStringLiteral("bytes"), double(row.bytes)}});
    return array;
}

QJsonArray dailyJson(const QList<DailyRouteBytes>& rows)
{
    QJsonArray array;
    for (const DailyRouteBytes& row : rows)
        array.append(QJsonObject{{QStringLiteral("day"), row.day},
                                 {QStringLiteral("route"), row.route},
                                 {QStringLiteral("bytes"), double(row.bytes)}});
    return array;
}

QJsonObject historyJson(const DashboardHistory& h, const std::optional<QString>& profile, int flows)
{
    QJsonArray rules;
    for (const RuleHits& rule : h.topRules)
        rules.append(QJsonObject{{QStringLiteral("rule"), rule.rule},
                                 {QStringLiteral("payload"), rule.payload},
                                 {QStringLiteral("count"), rule.count}});
    QJsonArray hourly;
    for (const HourlyRouteBytes& row : h.hourlyTrafficToday)
        hourly.append(QJsonObject{{QStringLiteral("hour"), row.hour},
                                  {QStringLiteral("route"), row.route},
                                  {QStringLiteral("bytes"), double(row.bytes)}});
    return QJsonObject{
        {QStringLiteral("profile"), profile ? QJsonValue(*profile) : QJsonValue()},
        {QStringLiteral("flowRecords"), flows},
        {QStringLiteral("totalTx"), double(h.totalTx)},
        {QStringLiteral("totalRx"), double(h.totalRx)},
        {QStringLiteral("totalConnections"), h.totalConnections},
        {QStringLiteral("uniqueHosts"), h.uniqueHosts},
        {QStringLiteral("trafficToday"), double(sum(h.trafficByRouteToday))},
        {QStringLiteral("trafficYesterday"), double(h.trafficYesterday)},
        {QStringLiteral("trafficThisMonth"), double(sum(h.trafficByRouteMonth))},
        {QStringLiteral("trafficLastMonth"), double(h.trafficLastMonth)},
        {QStringLiteral("trafficByRouteToday"), namedJson(h.trafficByRouteToday)},
        {QStringLiteral("trafficByRouteMonth"), namedJson(h.trafficByRouteMonth)},
        {QStringLiteral("topDomains"), namedJson(h.topDomains)},
        {QStringLiteral("topNodes"), namedJson(h.topNodes)},
        {QStringLiteral("topRules"), rules},
        {QStringLiteral("policyGroupTraffic"), namedJson(h.policyGroupTraffic)},
        {QStringLiteral("topSourceIPs"), namedJson(h.topSourceIPs)},
        {QStringLiteral("topDestinationCountries"), namedJson(h.topDestinationCountries)},
        {QStringLiteral("topTunnelEndpoints"), namedJson(h.topTunnelEndpoints)},
        {QStringLiteral("dailyTraffic"), dailyJson(h.dailyTraffic)},
        {QStringLiteral("weeklyTraffic"), dailyJson(h.weeklyTraffic)},
        {QStringLiteral("hourlyTrafficToday"), hourly},
    };
}

void printList(QTextStream& out, const char* title, const QList<NamedBytes>& rows)
{
    out << '\n' << title << '\n';
    if (rows.isEmpty())
        out << "  (none)\n";
    for (const NamedBytes& row : rows)
        out << "  " << (row.name.isEmpty() ? QStringLiteral("(empty)") : row.name).leftJustified(40) << ' '
            << formatBytes(row.bytes).rightJustified(10) << '\n';
}

QString routes(const QList<NamedBytes>& rows)
{
    QStringList parts;
    for (const NamedBytes& row : rows)
        parts.append(row.name + u' ' + formatBytes(row.bytes));
    return parts.isEmpty() ? QString() : QStringLiteral("  (") + parts.join(QStringLiteral(", ")) + u')';
}

void printHistory(QTextStream& out, const DashboardHistory& h, const std::optional<QString>& profile,
                  const QString& path, int flows)
{
    out << "Traffic history of "
        << (profile ? QStringLiteral("profile \"%1\"").arg(*profile) : "all profiles") << ": " << flows
        << " flow records in " << path << "\n\n";
    const auto line = [&](const char* label, quint64 bytes, const QString& detail = {}) {
        out << "  " << QString::fromLatin1(label).leftJustified(12) << formatBytes(bytes).rightJustified(10)
            << detail << '\n';
    };
    out << "Totals\n";
    line("today", sum(h.trafficByRouteToday), routes(h.trafficByRouteToday));
    line("yesterday", h.trafficYesterday);
    line("this month", sum(h.trafficByRouteMonth), routes(h.trafficByRouteMonth));
    line("last month", h.trafficLastMonth);
    line("all time", h.totalTx + h.totalRx,
         QStringLiteral("  (up %1, down %2; %3 connections to %4 hosts)")
             .arg(formatBytes(h.totalTx), formatBytes(h.totalRx))
             .arg(h.totalConnections)
             .arg(h.uniqueHosts));
    printList(out, "Top domains", h.topDomains);
    printList(out, "Top nodes", h.topNodes);
    out << "\nTop rules\n";
    if (h.topRules.isEmpty())
        out << "  (none)\n";
    for (const RuleHits& rule : h.topRules)
        out << "  " << (rule.rule + u' ' + rule.payload).leftJustified(40) << ' '
            << QString::number(rule.count).rightJustified(10) << '\n';
    printList(out, "Policy groups (downloads)", h.policyGroupTraffic);
    printList(out, "Top source addresses", h.topSourceIPs);
    printList(out, "Target countries", h.topDestinationCountries);
    printList(out, "Tunnel endpoints", h.topTunnelEndpoints);
}

// Prints what the dashboard's history shows, straight from the flow database.
int runHistory(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QString root;
    std::optional<QString> profile;
    bool json = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--json")) {
            json = true;
        } else if ((argument == QLatin1String("--workspace") || argument == QLatin1String("--profile")) &&
                   i + 1 < arguments.size()) {
            (argument == QLatin1String("--workspace") ? root : profile.emplace()) = arguments[++i];
        } else if (argument == QLatin1String("--help")) {
            out << kUsage;
            return 0;
        } else {
            err << kUsage;
            return 2;
        }
    }
    const ClashPaths paths(root);
    root = paths.applicationSupportDirectory();
    const QString path = paths.databaseDirectory() + QStringLiteral("flows.db");
    // Never create a history where there is none.
    if (!QFileInfo(path).isFile()) {
        err << "No traffic history at " << path << '\n';
        return 1;
    }
    try {
        FlowDatabase db{root};
        const DashboardHistory history = DashboardHistory::load(db, profile, QDateTime::currentDateTime());
        const int flows = db.rowCount();
        if (json)
            out << QJsonDocument(historyJson(history, profile, flows)).toJson(QJsonDocument::Indented);
        else
            printHistory(out, history, profile, path, flows);
        return 0;
    } catch (const std::exception& e) {
        err << describe(e) << '\n';
        return 1;
    }
}

} // namespace

CliCommand historyCommand()
{
    return CliCommand{QStringLiteral("history"),
                      QStringLiteral("history [--workspace DIR] [--profile NAME] [--json]"),
                      QStringLiteral("print the traffic history the dashboard shows"), runHistory};
}

} // namespace tarnwick::cli
