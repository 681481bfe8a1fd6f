#include "ShellExport.h"

#include "app/SystemProxyController.h"
#include "controller/MihomoClient.h"

#include <QNetworkInterface>

namespace tarnwick {

QString ShellExport::host(const QList<Interface>& interfaces)
{
    for (const Interface& interface : interfaces) {
        if (!interface.isUp || !interface.isRunning || interface.isLoopback ||
            !interface.name.startsWith(QLatin1String("en")))
            continue;
        for (const QHostAddress& address : interface.addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                return address.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QList<ShellExport::Interface> ShellExport::machineInterfaces()
{
    QList<Interface> interfaces;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        Interface entry;
        entry.name = interface.name();
        entry.isUp = interface.flags().testFlag(QNetworkInterface::IsUp);
        entry.isRunning = interface.flags().testFlag(QNetworkInterface::IsRunning);
        entry.isLoopback = interface.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry& address : interface.addressEntries())
            entry.addresses.append(address.ip());
        interfaces.append(entry);
    }
    return interfaces;
}

int ShellExport::port(const std::optional<QJsonObject>& configuration)
{
    return configuration ? SystemProxyController::proxyPort(*configuration) : fallbackPort;
}

QString ShellExport::text(const QString& host, int port)
{
    const QString address = host + QLatin1Char(':') + QString::number(port);
    return QStringLiteral("export https_proxy=http://") + address +
           QStringLiteral(";export http_proxy=http://") + address +
           QStringLiteral(";export all_proxy=socks5://") + address;
}

QCoro::Task<QString> ShellExport::build(MihomoClient client)
{
    std::optional<QJsonObject> configuration;
    try {
        configuration = co_await client.configs();
    } catch (const std::exception&) {
        // No kernel to ask: the usual port.
    }
    co_return text(host(machineInterfaces()), port(configuration));
}

} // namespace tarnwick
