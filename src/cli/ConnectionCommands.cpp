#include "Commands.h"
#include "RemoteCall.h"
#include "controller/RateFormatter.h"

namespace tarnwick::cli {

namespace {

qint64 number(const QJsonObject& data, const char* key)
{
    return text(data, key).toLongLong();
}

// The chain from the group to the node, as the requests page shows it.
QString chainText(const QJsonArray& chains)
{
    QStringList names;
    for (const QJsonValue& name : chains)
        names.prepend(name.toString());
    return names.join(QStringLiteral(" → "));
}

void renderConnections(const QJsonObject& data, QTextStream& out)
{
    const QJsonArray connections = listOf(data);
    if (connections.isEmpty()) {
        out << "No connections.\n";
        return;
    }
    QList<QStringList> rows{{QStringLiteral("ID"), QStringLiteral("NET"), QStringLiteral("DESTINATION"),
                             QStringLiteral("UP"), QStringLiteral("DOWN"), QStringLiteral("RULE"),
                             QStringLiteral("CHAIN")}};
    for (const QJsonValue& value : connections) {
        const QJsonObject connection = value.toObject();
        const auto bytes = [&](const char* total, const char* speed) {
            const qint64 rate = connection.value(QLatin1String(speed)).toInteger();
            return RateFormatter::bytes(connection.value(QLatin1String(total)).toInteger()) +
                   (rate > 0 ? QStringLiteral(" (%1)").arg(RateFormatter::rate(rate)) : QString());
        };
        rows.append({connection.value(QLatin1String("id")).toString(),
                     connection.value(QLatin1String("network")).toString(),
                     connection.value(QLatin1String("destination")).toString(),
                     bytes("upload", "uploadSpeed"), bytes("download", "downloadSpeed"),
                     connection.value(QLatin1String("rule")).toString(),
                     chainText(connection.value(QLatin1String("chains")).toArray())});
    }
    out << table(rows);
}

int runConnections(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("connections [--json]"),
                               QStringLiteral("getConnections"), renderConnections);
}

int runClose(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("close ID|--all [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err, {QStringLiteral("--all")});
    if (!parsed)
        return exitUsage;
    const bool all = parsed->has(QStringLiteral("--all"));
    if (parsed->positional.size() != (all ? 0 : 1))
        return usageError(err, usage,
                          QStringLiteral("give one connection's ID (tarnwick connections) or --all"));
    const QJsonObject fields = all ? QJsonObject{{QStringLiteral("all"), true}}
                                   : QJsonObject{{QStringLiteral("id"), parsed->positional.first()}};
    return request(AppCommand(QStringLiteral("closeConnection"), fields), parsed->json, out, err,
                   [](const QJsonObject& data, QTextStream& o) {
                       const qint64 closed = number(data, "closed");
                       o << "Closed " << closed << (closed == 1 ? " connection\n" : " connections\n");
                   });
}

int runTraffic(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(
        arguments, out, err, QStringLiteral("traffic [--json]"), QStringLiteral("getTraffic"),
        [](const QJsonObject& data, QTextStream& o) {
            o << table({
                {QStringLiteral("Upload:"), RateFormatter::rate(number(data, "upload")),
                 QStringLiteral("total ") + RateFormatter::bytes(number(data, "uploadTotal"))},
                {QStringLiteral("Download:"), RateFormatter::rate(number(data, "download")),
                 QStringLiteral("total ") + RateFormatter::bytes(number(data, "downloadTotal"))},
                {QStringLiteral("Memory:"), RateFormatter::bytes(number(data, "memory"))},
                {QStringLiteral("Connections:"), text(data, "connections")},
            });
        });
}

} // namespace

QList<CliCommand> connectionCommands()
{
    return {
        {QStringLiteral("connections"), QStringLiteral("connections [--json]"),
         QStringLiteral("list the open connections through the kernel"), runConnections},
        {QStringLiteral("close"), QStringLiteral("close ID|--all [--json]"),
         QStringLiteral("close one connection, or every one"), runClose},
        {QStringLiteral("traffic"), QStringLiteral("traffic [--json]"),
         QStringLiteral("show the current rates, the traffic totals and the kernel's memory"), runTraffic},
    };
}

} // namespace tarnwick::cli
