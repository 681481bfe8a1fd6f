#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// How the kernel routes traffic: by the profile's rules, everything through the GLOBAL group, or direct.
enum class OutboundMode
{
    rule,
    global,
    direct,
};

const QList<OutboundMode>& allOutboundModes();
QString rawValue(OutboundMode mode);
// Exact, case-sensitive match of the raw value.
std::optional<OutboundMode> outboundModeFromRaw(const QString& raw);

} // namespace tarnwick
