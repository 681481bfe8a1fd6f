#include "MihomoRuleType.h"

#include <array>

namespace tarnwick {

namespace {

constexpr std::array<const char*, 32> rawValues{
    "DOMAIN",
    "DOMAIN-SUFFIX",
    "DOMAIN-KEYWORD",
    "DOMAIN-WILDCARD",
    "DOMAIN-REGEX",
    "GEOSITE",
    "IP-CIDR",
    "IP-CIDR6",
    "IP-SUFFIX",
    "IP-ASN",
    "GEOIP",
    "SRC-GEOIP",
    "SRC-IP-ASN",
    "SRC-IP-CIDR",
    "SRC-IP-SUFFIX",
    "DST-PORT",
    "SRC-PORT",
    "IN-PORT",
    "IN-TYPE",
    "IN-USER",
    "IN-NAME",
    "PROCESS-NAME",
    "PROCESS-PATH",
    "PROCESS-NAME-REGEX",
    "PROCESS-PATH-REGEX",
    "NETWORK",
    "DSCP",
    "RULE-SET",
    "AND",
    "OR",
    "NOT",
    "MATCH",
};

} // namespace

const QList<MihomoRuleType>& allMihomoRuleTypes()
{
    static const QList<MihomoRuleType> types = [] {
        QList<MihomoRuleType> all;
        for (size_t i = 0; i < rawValues.size(); ++i)
            all.append(static_cast<MihomoRuleType>(i));
        return all;
    }();
    return types;
}

QString rawValue(MihomoRuleType type)
{
    return QLatin1String(rawValues[static_cast<size_t>(type)]);
}

std::optional<MihomoRuleType> mihomoRuleTypeFromRaw(const QString& raw)
{
    for (size_t i = 0; i < rawValues.size(); ++i) {
        if (raw == QLatin1String(rawValues[i]))
            return static_cast<MihomoRuleType>(i);
    }
    return std::nullopt;
}

bool supportsNoResolve(MihomoRuleType type)
{
    switch (type) {
    case MihomoRuleType::ipCIDR:
    case MihomoRuleType::ipCIDR6:
    case MihomoRuleType::ipSuffix:
    case MihomoRuleType::ipASN:
    case MihomoRuleType::geoIP:
    case MihomoRuleType::ruleSet:
        return true;
    default:
        return false;
    }
}

bool requiresPayload(MihomoRuleType type)
{
    return type != MihomoRuleType::match;
}

} // namespace tarnwick
