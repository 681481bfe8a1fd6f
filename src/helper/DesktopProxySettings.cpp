#include "DesktopProxySettings.h"

namespace tarnwick {

DesktopProxySettings::Part DesktopProxySettings::partOf(NetworkSetupCommand::Protocol protocol)
{
    switch (protocol) {
    case NetworkSetupCommand::Protocol::web:
        return Part::web;
    case NetworkSetupCommand::Protocol::secureWeb:
        return Part::secureWeb;
    case NetworkSetupCommand::Protocol::socks:
        return Part::socks;
    }
    Q_UNREACHABLE();
}

QString DesktopProxySettings::partName(Part part)
{
    switch (part) {
    case Part::mode:
        return QStringLiteral("mode");
    case Part::web:
        return QStringLiteral("web");
    case Part::secureWeb:
        return QStringLiteral("secureWeb");
    case Part::socks:
        return QStringLiteral("socks");
    case Part::bypass:
        return QStringLiteral("bypass");
    }
    Q_UNREACHABLE();
}

} // namespace tarnwick
