#pragma once

#include "platform/NetworkSetupCommand.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace tarnwick {

// One desktop's own proxy settings (GNOME's, KDE's). The helper reads every part before it first changes
// it, so that it can write back exactly what the user had.
class DesktopProxySettings
{
public:
    enum class Part
    {
        mode,
        web,
        secureWeb,
        socks,
        bypass,
    };
    static constexpr Part parts[] = {Part::mode, Part::web, Part::secureWeb, Part::socks, Part::bypass};
    static Part partOf(NetworkSetupCommand::Protocol protocol);
    static QString partName(Part part);

    virtual ~DesktopProxySettings() = default;

    virtual QString name() const = 0;
    // A part as it is now, in the form write() takes back (null: not set at all).
    virtual QJsonValue read(Part part) = 0;
    virtual void write(Part part, const QJsonValue& value) = 0;
    // Tells the desktop's running programs that the settings changed.
    virtual void announce() {}

    // Manual mode with the protocol's proxy at host:port.
    void pointAt(NetworkSetupCommand::Protocol protocol, const QString& host, int port);
    void setBypass(const QStringList& domains);

protected:
    // Parts' values as write() takes them, spelled the desktop's way.
    virtual QJsonValue proxyValue(Part part, const QString& host, int port) const = 0;
    virtual QJsonValue manualMode() const = 0;
    virtual QJsonValue bypassValue(const QStringList& domains) const = 0;
};

} // namespace tarnwick
