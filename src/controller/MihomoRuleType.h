#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// The kernel's rule types, in the order the rule editor lists them.
enum class MihomoRuleType
{
    domain,
    domainSuffix,
    domainKeyword,
    domainWildcard,
    domainRegex,
    geosite,
    ipCIDR,
    ipCIDR6,
    ipSuffix,
    ipASN,
    geoIP,
    srcGeoIP,
    srcIPASN,
    srcIPCIDR,
    srcIPSuffix,
    dstPort,
    srcPort,
    inPort,
    inType,
    inUser,
    inName,
    processName,
    processPath,
    processNameRegex,
    processPathRegex,
    network,
    dscp,
    ruleSet,
    and_,
    or_,
    not_,
    match,
};

const QList<MihomoRuleType>& allMihomoRuleTypes();
// The text that begins a rule line: "DOMAIN-SUFFIX", "IP-CIDR" …
QString rawValue(MihomoRuleType type);
// Exact and case-sensitive.
std::optional<MihomoRuleType> mihomoRuleTypeFromRaw(const QString& raw);
// The types after which a rule may carry "no-resolve".
bool supportsNoResolve(MihomoRuleType type);
bool requiresPayload(MihomoRuleType type);

} // namespace tarnwick
