#include "NetworkDns.h"

#include "HelperError.h"
#include "ToolProcess.h"
#include "platform/NetworkManagerCli.h"

#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>

namespace tarnwick {

namespace {

const QString kTool = QStringLiteral("tool");
const QString kDevice = QStringLiteral("device");
const QString kNetworkManager = QStringLiteral("NetworkManager");
const QString kResolved = QStringLiteral("resolved");

} // namespace

NetworkDns::NetworkDns()
    : NetworkDns(NetworkManagerCli::executable(),
                 QStandardPaths::findExecutable(QStringLiteral("resolvectl")))
{}

QString NetworkDns::defaultRouteInterface(const QByteArray& routeTable)
{
    for (const QByteArray& line : routeTable.split('\n').mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 2 && fields.at(1) == "00000000")
            return QString::fromUtf8(fields.at(0));
    }
    return {};
}

QString NetworkDns::deviceOf(const QString& service) const
{
    const QByteArray output = ToolProcess::check(m_nmcli, NetworkManagerCli::activeConnectionsArguments());
    for (const auto& connection :
         NetworkManagerCli::userNetworks(NetworkManagerCli::parseActiveConnections(output))) {
        if (connection.name == service)
            return connection.device;
    }
    throw HelperError(QStringLiteral("No active NetworkManager connection named \"%1\"").arg(service));
}

QJsonObject NetworkDns::set(const QString& service, const QStringList& servers) const
{
    if (!m_nmcli.isEmpty() && service != NetworkManagerCli::systemService) {
        const QString device = deviceOf(service);
        QStringList ipv4;
        QStringList ipv6;
        for (const QString& server : servers)
            (QHostAddress(server).protocol() == QAbstractSocket::IPv6Protocol ? ipv6 : ipv4).append(server);
        // Only the servers given answer: neither family keeps the ones the network handed out.
        QStringList arguments{QStringLiteral("device"), QStringLiteral("modify"), device};
        arguments << QStringLiteral("ipv4.dns") << ipv4.join(QLatin1Char(','))
                  << QStringLiteral("ipv4.ignore-auto-dns") << QStringLiteral("yes")
                  << QStringLiteral("ipv6.dns") << ipv6.join(QLatin1Char(','))
                  << QStringLiteral("ipv6.ignore-auto-dns") << QStringLiteral("yes");
        ToolProcess::check(m_nmcli, arguments);
        return {{kTool, kNetworkManager}, {kDevice, device}};
    }
    if (!m_resolvectl.isEmpty()) {
        QFile routes(QStringLiteral("/proc/net/route"));
        const QString interface =
            routes.open(QIODevice::ReadOnly) ? defaultRouteInterface(routes.readAll()) : QString();
        if (interface.isEmpty())
            throw HelperError(QStringLiteral("No default route to set DNS servers for"));
        ToolProcess::check(m_resolvectl, QStringList{QStringLiteral("dns"), interface} + servers);
        return {{kTool, kResolved}, {kDevice, interface}};
    }
    throw HelperError(QStringLiteral("Neither NetworkManager nor systemd-resolved can set DNS servers here"));
}

void NetworkDns::revert(const QJsonObject& undo) const
{
    const QString device = undo.value(kDevice).toString();
    if (undo.value(kTool).toString() == kNetworkManager && !m_nmcli.isEmpty())
        ToolProcess::check(m_nmcli, {QStringLiteral("device"), QStringLiteral("reapply"), device});
    else if (undo.value(kTool).toString() == kResolved && !m_resolvectl.isEmpty())
        ToolProcess::check(m_resolvectl, {QStringLiteral("revert"), device});
}

} // namespace tarnwick
