#pragma once

#include <QString>
#include <optional>
#include <variant>

namespace tarnwick {

// The rows the flow database's analytic queries answer with.

struct NamedBytes
{
    QString name;
    quint64 bytes = 0;
    bool operator==(const NamedBytes&) const = default;
};

struct RuleHits
{
    QString rule;
    QString payload;
    int count = 0;
    bool operator==(const RuleHits&) const = default;
};

struct TrafficTotals
{
    quint64 tx = 0;
    quint64 rx = 0;
    bool operator==(const TrafficTotals&) const = default;
};

struct DailyRouteBytes
{
    QString day;   // local date, "yyyy-MM-dd"
    QString route; // "Direct", "Reject" or "Proxy"
    quint64 bytes = 0;
    bool operator==(const DailyRouteBytes&) const = default;
};

struct HourlyRouteBytes
{
    int hour = 0; // 0–23, local
    QString route;
    quint64 bytes = 0;
    bool operator==(const HourlyRouteBytes&) const = default;
};

struct FlightPath
{
    QString clientCountry;
    QString proxyCountry;
    QString destCountry;
    quint64 bytes = 0;
    bool operator==(const FlightPath&) const = default;
};

struct GeoCacheEntry
{
    QString ip;
    QString country;
    std::optional<QString> asn;
    std::optional<QString> org;
    bool operator==(const GeoCacheEntry&) const = default;
};

// One bound query parameter: a REAL, a 32-bit INTEGER or a TEXT.
using Param = std::variant<double, int, QString>;

} // namespace tarnwick
