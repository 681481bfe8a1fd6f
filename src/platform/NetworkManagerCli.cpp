#include "NetworkManagerCli.h"

#include <QStandardPaths>

namespace tarnwick::NetworkManagerCli {

QString executable()
{
    return QStandardPaths::findExecutable(QStringLiteral("nmcli"));
}

QStringList splitTerseLine(const QString& line)
{
    QStringList fields{QString()};
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            fields.last().append(line.at(++i));
        } else if (c == QLatin1Char(':')) {
            fields.append(QString());
        } else {
            fields.last().append(c);
        }
    }
    return fields;
}

QStringList activeConnectionsArguments()
{
    return {QStringLiteral("-t"),         QStringLiteral("-f"),   QStringLiteral("NAME,TYPE,DEVICE"),
            QStringLiteral("connection"), QStringLiteral("show"), QStringLiteral("--active")};
}

QList<ActiveConnection> parseActiveConnections(const QByteArray& output)
{
    QList<ActiveConnection> connections;
    for (const QString& line : QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = splitTerseLine(line);
        if (fields.size() != 3 || fields.at(0).isEmpty())
            continue;
        connections.append({fields.at(0), fields.at(1), fields.at(2)});
    }
    return connections;
}

QList<ActiveConnection> userNetworks(const QList<ActiveConnection>& connections)
{
    QList<ActiveConnection> networks;
    for (const ActiveConnection& connection : connections) {
        if (connection.type != QLatin1String("loopback") && connection.type != QLatin1String("tun") &&
            !connection.device.isEmpty())
            networks.append(connection);
    }
    return networks;
}

} // namespace tarnwick::NetworkManagerCli
