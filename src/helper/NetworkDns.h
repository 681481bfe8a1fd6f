#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace tarnwick {

// A service's DNS servers, best effort: NetworkManager's active connection changed on its device for the
// time being (nmcli device modify; the saved connection profile is never touched, and "device reapply"
// brings the profile's own settings back), or, without NetworkManager, systemd-resolved's servers of the
// default route's interface (resolvectl dns / revert).
class NetworkDns final
{
public:
    // The tools found on this machine.
    NetworkDns();
    NetworkDns(QString nmcli, QString resolvectl)
        : m_nmcli(std::move(nmcli)), m_resolvectl(std::move(resolvectl))
    {}

    // Sets the servers and returns how to undo it (for revert()). Throws HelperError when the service
    // has no device or no tool can change it.
    QJsonObject set(const QString& service, const QStringList& servers) const;
    // Undoes what set() returned; throws HelperError when the tool fails.
    void revert(const QJsonObject& undo) const;

    // The interface of the default IPv4 route in /proc/net/route's format, or empty.
    static QString defaultRouteInterface(const QByteArray& routeTable);

private:
    QString deviceOf(const QString& service) const;

    QString m_nmcli;
    QString m_resolvectl;
};

} // namespace tarnwick
