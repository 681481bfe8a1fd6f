#include "OutboundMode.h"

namespace tarnwick {

const QList<OutboundMode>& allOutboundModes()
{
    static const QList<OutboundMode> modes{OutboundMode::rule, OutboundMode::global, OutboundMode::direct};
    return modes;
}

QString rawValue(OutboundMode mode)
{
    switch (mode) {
    case OutboundMode::rule:
        return QStringLiteral("rule");
    case OutboundMode::global:
        return QStringLiteral("global");
    case OutboundMode::direct:
        return QStringLiteral("direct");
    }
    return QStringLiteral("rule");
}

std::optional<OutboundMode> outboundModeFromRaw(const QString& raw)
{
    for (const OutboundMode mode : allOutboundModes()) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

} // namespace tarnwick
