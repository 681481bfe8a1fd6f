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

void DesktopProxySettings::pointAt(NetworkSetupCommand::Protocol protocol, const QString& host, int port)
{
    const Part part = partOf(protocol);
    write(part, proxyValue(part, host, port));
    write(Part::mode, manualMode());
}

void DesktopProxySettings::setBypass(const QStringList& domains)
{
    write(Part::bypass, bypassValue(domains));
}

} // namespace tarnwick
