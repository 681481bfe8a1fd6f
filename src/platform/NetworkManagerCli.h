#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarnwick {

// NetworkManager's command-line client: the read-only queries both the application and the helper make,
// and the parsing of its terse (-t) output, where ':' separates fields and '\' escapes ':' and '\'.
namespace NetworkManagerCli {

struct ActiveConnection
{
    QString name;
    QString type;
    QString device;
};

// nmcli's path, or empty when NetworkManager's client is not installed.
QString executable();

// The active connections: NAME, TYPE and DEVICE of "connection show --active".
QStringList activeConnectionsArguments();
QList<ActiveConnection> parseActiveConnections(const QByteArray& output);
// The connections that stand for a network the user is on: not the loopback, not a tunnel.
QList<ActiveConnection> userNetworks(const QList<ActiveConnection>& connections);

// One line of terse output split into its fields.
QStringList splitTerseLine(const QString& line);

// The single network service of a machine without NetworkManager.
inline const QString systemService = QStringLiteral("System");

} // namespace NetworkManagerCli
} // namespace tarnwick
