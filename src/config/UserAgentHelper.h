#pragma once

#include <QString>

namespace tarnwick {

class Settings;

// The User-Agent of subscription downloads and quota refreshes. Providers choose the profile format by
// it, so the default names the kernel family.
namespace UserAgentHelper {

inline const QString defaultUA = QStringLiteral("Mihomo/v1.18.0; clash.meta; clash");

// The "globalUA" setting trimmed, when that leaves any text; else defaultUA.
QString activeUA(const Settings& settings);

} // namespace UserAgentHelper
} // namespace tarnwick
