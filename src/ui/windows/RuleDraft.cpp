#include "RuleDraft.h"

#include "controller/MihomoRuleType.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace tarnwick {

namespace {

const QString kSampleDomain = QStringLiteral("example.com");

QString portProblem(const QString& payload)
{
    static const QRegularExpression shape(QStringLiteral("^\\d+(-\\d+)?(/\\d+(-\\d+)?)*$"));
    bool inRange = shape.match(payload).hasMatch();
    static const QRegularExpression separators(QStringLiteral("[-/]"));
    for (const QString& number : payload.split(separators, Qt::SkipEmptyParts))
        inRange = inRange && number.toInt() <= 65535;
    return inRange ? QString()
                   : QStringLiteral("\"%1\" is not a port, a range (8000-8999) or a list of them (80/443)")
                         .arg(payload);
}

QString networkProblem(const QString& payload, QAbstractSocket::NetworkLayerProtocol protocol)
{
    const std::pair<QHostAddress, int> subnet = QHostAddress::parseSubnet(payload);
    const bool valid = !subnet.first.isNull() &&
                       (protocol == QAbstractSocket::AnyIPProtocol || subnet.first.protocol() == protocol);
    if (valid)
        return {};
    if (protocol == QAbstractSocket::IPv4Protocol)
        return QStringLiteral("\"%1\" is not an IPv4 network (for example 192.168.0.0/16)").arg(payload);
    if (protocol == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("\"%1\" is not an IPv6 network (for example 2001:db8::/32)").arg(payload);
    return QStringLiteral("\"%1\" is not an IP network (for example 10.0.0.0/8)").arg(payload);
}

QString logicalProblem(const QString& op, const QString& payload)
{
    const QString inner = LogicalRuleParser::stripOuterParentheses(payload);
    if (inner == payload.trimmed())
        return QStringLiteral("The conditions of %1 go in parentheses, for example %2")
            .arg(op, RuleDraft::placeholder(op));
    const QList<LogicalRuleParser::Condition> operands = LogicalRuleParser::decompose(payload);
    if (op == QLatin1String("NOT") && operands.size() != 1)
        return QStringLiteral("NOT takes exactly one condition");
    if (op != QLatin1String("NOT") && operands.size() < 2)
        return QStringLiteral("%1 takes at least two conditions").arg(op);
    for (const LogicalRuleParser::Condition& condition : operands) {
        if (!condition.logical.isEmpty()) {
            const QStringList pieces = LogicalRuleParser::splitTopLevel(condition.text);
            if (const QString problem = logicalProblem(condition.logical, pieces.mid(1).join(u','));
                !problem.isEmpty())
                return problem;
            continue;
        }
        const QStringList pieces = LogicalRuleParser::splitTopLevel(condition.text);
        const std::optional<MihomoRuleType> type = mihomoRuleTypeFromRaw(pieces.first());
        if (!type || *type == MihomoRuleType::match)
            return QStringLiteral("\"%1\" is not a condition (TYPE,PAYLOAD)").arg(condition.text);
        if (pieces.size() != 2)
            return QStringLiteral("The condition \"%1\" needs one payload: TYPE,PAYLOAD").arg(condition.text);
        if (const QString problem = RuleDraft::payloadProblem(pieces[0], pieces[1]); !problem.isEmpty())
            return problem;
    }
    return {};
}

} // namespace

RuleDraft RuleDraft::parse(const QString& text)
{
    const QStringList parts = LogicalRuleParser::splitTopLevel(text.trimmed());
    RuleDraft draft;
    draft.type = parts.value(0);
    if (draft.type == QLatin1String("MATCH")) {
        draft.policy = parts.value(1);
        draft.options = parts.mid(2);
        return draft;
    }
    draft.payload = parts.value(1);
    draft.policy = parts.value(2);
    draft.options = parts.mid(3);
    return draft;
}

QString RuleDraft::text() const
{
    QStringList parts{type};
    if (type != QLatin1String("MATCH"))
        parts.append(payload.trimmed());
    parts.append(policy.trimmed());
    parts.append(options);
    return parts.join(u',');
}

bool RuleDraft::isLogical(const QString& type)
{
    return type == QLatin1String("AND") || type == QLatin1String("OR") || type == QLatin1String("NOT");
}

QString RuleDraft::placeholder(const QString& type)
{
    const std::optional<MihomoRuleType> known = mihomoRuleTypeFromRaw(type);
    if (!known)
        return {};
    switch (*known) {
    case MihomoRuleType::not_:
        return QStringLiteral("((DOMAIN,%1))").arg(kSampleDomain);
    case MihomoRuleType::and_:
    case MihomoRuleType::or_:
        return QStringLiteral("((DOMAIN,%1),(NETWORK,UDP))").arg(kSampleDomain);
    case MihomoRuleType::domain:
    case MihomoRuleType::domainSuffix:
        return kSampleDomain;
    case MihomoRuleType::domainKeyword:
        return QStringLiteral("example");
    case MihomoRuleType::domainWildcard:
        return QStringLiteral("*.example.com");
    case MihomoRuleType::domainRegex:
        return QStringLiteral("^ads?\\.example\\.com$");
    case MihomoRuleType::geosite:
        return QStringLiteral("category-ads-all");
    case MihomoRuleType::ipCIDR:
    case MihomoRuleType::srcIPCIDR:
        return QStringLiteral("192.168.0.0/16");
    case MihomoRuleType::ipCIDR6:
        return QStringLiteral("2001:db8::/32");
    case MihomoRuleType::ipSuffix:
    case MihomoRuleType::srcIPSuffix:
        return QStringLiteral("8.8.8.8/24");
    case MihomoRuleType::ipASN:
    case MihomoRuleType::srcIPASN:
        return QStringLiteral("13335");
    case MihomoRuleType::geoIP:
    case MihomoRuleType::srcGeoIP:
        return QStringLiteral("CN");
    case MihomoRuleType::dstPort:
    case MihomoRuleType::srcPort:
    case MihomoRuleType::inPort:
        return QStringLiteral("443");
    case MihomoRuleType::inType:
        return QStringLiteral("HTTP");
    case MihomoRuleType::inUser:
        return QStringLiteral("user");
    case MihomoRuleType::inName:
        return QStringLiteral("listener");
    case MihomoRuleType::processName:
        return QStringLiteral("curl");
    case MihomoRuleType::processPath:
        return QStringLiteral("/usr/bin/curl");
    case MihomoRuleType::processNameRegex:
    case MihomoRuleType::processPathRegex:
        return QStringLiteral("(?i)firefox.*");
    case MihomoRuleType::network:
        return QStringLiteral("udp");
    case MihomoRuleType::dscp:
        return QStringLiteral("46");
    case MihomoRuleType::ruleSet:
        return QStringLiteral("provider-name");
    case MihomoRuleType::match:
        return {};
    }
    return {};
}

QString RuleDraft::conditionText(const LogicalRuleParser::Condition& condition)
{
    if (condition.logical.isEmpty())
        return condition.text;
    return condition.logical + QLatin1Char(',') + logicalPayload(condition.operands);
}

QString RuleDraft::logicalPayload(const QList<LogicalRuleParser::Condition>& operands)
{
    QStringList parts;
    for (const LogicalRuleParser::Condition& operand : operands)
        parts.append(QLatin1Char('(') + conditionText(operand) + QLatin1Char(')'));
    return QLatin1Char('(') + parts.join(u',') + QLatin1Char(')');
}

QString RuleDraft::payloadProblem(const QString& type, const QString& rawPayload)
{
    const QString payload = rawPayload.trimmed();
    const std::optional<MihomoRuleType> known = mihomoRuleTypeFromRaw(type);
    if (!known)
        return QStringLiteral("Unknown rule type \"%1\"").arg(type);
    if (!requiresPayload(*known))
        return {};
    if (payload.isEmpty())
        return QStringLiteral("%1 needs a payload, for example %2").arg(type, placeholder(type));
    if (isLogical(type))
        return logicalProblem(type, payload);
    if (payload.contains(QLatin1Char(',')))
        return QStringLiteral("A payload cannot contain a comma");
    switch (*known) {
    case MihomoRuleType::ipCIDR:
        return networkProblem(payload, QAbstractSocket::IPv4Protocol);
    case MihomoRuleType::ipCIDR6:
        return networkProblem(payload, QAbstractSocket::IPv6Protocol);
    case MihomoRuleType::srcIPCIDR:
    case MihomoRuleType::ipSuffix:
    case MihomoRuleType::srcIPSuffix:
        return networkProblem(payload, QAbstractSocket::AnyIPProtocol);
    case MihomoRuleType::dstPort:
    case MihomoRuleType::srcPort:
    case MihomoRuleType::inPort:
        return portProblem(payload);
    case MihomoRuleType::network:
        return payload.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0 ||
                       payload.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0
                   ? QString()
                   : QStringLiteral("NETWORK takes tcp or udp");
    case MihomoRuleType::dscp: {
        bool number = false;
        const int value = payload.toInt(&number);
        return number && value >= 0 && value <= 63 ? QString()
                                                   : QStringLiteral("DSCP takes a number from 0 to 63");
    }
    case MihomoRuleType::ipASN:
    case MihomoRuleType::srcIPASN: {
        bool number = false;
        payload.toUInt(&number);
        return number ? QString() : QStringLiteral("\"%1\" is not an AS number").arg(payload);
    }
    case MihomoRuleType::domainRegex:
    case MihomoRuleType::processNameRegex:
    case MihomoRuleType::processPathRegex: {
        const QRegularExpression expression(payload);
        return expression.isValid() ? QString()
                                    : QStringLiteral("\"%1\" is not a valid regular expression: %2")
                                          .arg(payload, expression.errorString());
    }
    default:
        return {};
    }
}

QString RuleDraft::problem() const
{
    if (type.isEmpty())
        return QStringLiteral("Choose a rule type");
    for (const QString& part : {type, payload, policy})
        if (part.contains(QLatin1Char('\n')) || part.contains(QLatin1Char('\r')))
            return QStringLiteral("A rule is one line");
    if (const QString problem = payloadProblem(type, payload); !problem.isEmpty())
        return problem;
    if (policy.trimmed().isEmpty())
        return QStringLiteral("Choose a policy");
    if (policy.contains(QLatin1Char(',')))
        return QStringLiteral("A policy name cannot contain a comma");
    const std::optional<MihomoRuleType> known = mihomoRuleTypeFromRaw(type);
    for (const QString& option : options) {
        if (option == QLatin1String("no-resolve") && known && supportsNoResolve(*known))
            continue;
        if (option == QLatin1String("src"))
            continue;
        return QStringLiteral("%1 does not take the option \"%2\"").arg(type, option);
    }
    return {};
}

} // namespace tarnwick
