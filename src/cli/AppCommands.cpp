#include "Commands.h"
#include "RemoteCall.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace tarnwick::cli {

namespace {

void renderStatus(const QJsonObject& data, QTextStream& out)
{
    const bool running = text(data, "kernel") == QLatin1String("running");
    const QString version = text(data, "version");
    out << table({
        {QStringLiteral("Kernel:"), running && version != QLatin1String("-")
                                        ? QStringLiteral("running (%1)").arg(version)
                                        : text(data, "kernel")},
        {QStringLiteral("Profile:"), text(data, "profile")},
        {QStringLiteral("Mode:"), text(data, "mode")},
        {QStringLiteral("Groups:"), text(data, "groups")},
        {QStringLiteral("Providers:"), text(data, "providers")},
    });
}

void renderProviders(const QJsonObject& data, QTextStream& out)
{
    const QJsonArray list = listOf(data);
    if (list.isEmpty()) {
        out << "No providers.\n";
        return;
    }
    QList<QStringList> rows{{QStringLiteral("KIND"), QStringLiteral("NAME"), QStringLiteral("TYPE"),
                             QStringLiteral("SIZE"), QStringLiteral("UPDATED")}};
    for (const QJsonValue& value : list) {
        const QJsonObject provider = value.toObject();
        const bool proxy = provider.value(QLatin1String("kind")).toString() == QLatin1String("proxy");
        const QString size = proxy ? QStringLiteral("%1/%2 alive")
                                         .arg(provider.value(QLatin1String("alive")).toInteger())
                                         .arg(provider.value(QLatin1String("total")).toInteger())
                                   : QStringLiteral("%1 rules (%2)")
                                         .arg(provider.value(QLatin1String("ruleCount")).toInteger())
                                         .arg(provider.value(QLatin1String("behavior")).toString());
        rows.append({provider.value(QLatin1String("kind")).toString(),
                     provider.value(QLatin1String("name")).toString(),
                     provider.value(QLatin1String("type")).toString(), size,
                     shortTime(provider.value(QLatin1String("updatedAt")).toString())});
    }
    out << table(rows);
}

void renderHealth(const QJsonObject& data, QTextStream& out)
{
    QList<QStringList> rows{{QStringLiteral("GROUP"), QStringLiteral("ALIVE"), QStringLiteral("FASTEST"),
                             QStringLiteral("DELAY")}};
    for (const QJsonValue& value : listOf(data)) {
        const QJsonObject group = value.toObject();
        const qint64 delay = group.value(QLatin1String("fastestDelay")).toInteger(-1);
        rows.append({group.value(QLatin1String("group")).toString(),
                     QStringLiteral("%1/%2")
                         .arg(group.value(QLatin1String("alive")).toInteger())
                         .arg(group.value(QLatin1String("total")).toInteger()),
                     group.value(QLatin1String("fastest")).toString(),
                     delay < 0 ? QStringLiteral("-") : QStringLiteral("%1 ms").arg(delay)});
    }
    out << table(rows);
}

int runStatus(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("status [--json]"),
                               QStringLiteral("getStatus"), renderStatus);
}

int runProviders(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("providers [--json]"),
                               QStringLiteral("getProviders"), renderProviders);
}

int runHealth(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("health [--json]"),
                               QStringLiteral("healthCheck"), renderHealth);
}

int runRestart(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("restart [--json]"),
                               QStringLiteral("restartKernel"),
                               [](const QJsonObject&, QTextStream& o) { o << "Kernel restarted\n"; });
}

int runStart(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("start [--json]"),
                               QStringLiteral("startKernel"),
                               [](const QJsonObject&, QTextStream& o) { o << "Kernel running\n"; });
}

int runStop(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("stop [--json]"),
                               QStringLiteral("stopKernel"),
                               [](const QJsonObject&, QTextStream& o) { o << "Kernel stopped\n"; });
}

int runSwitch(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("switch NAME [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    if (parsed->positional.size() != 1)
        return usageError(err, usage, QStringLiteral("give the name (or file name) of one profile"));
    return request(
        AppCommand(QStringLiteral("switchProfile"), {{QStringLiteral("name"), parsed->positional.first()}}),
        parsed->json, out, err, [](const QJsonObject& data, QTextStream& o) {
            o << "Switched to " << text(data, "profile") << " (" << text(data, "fileName") << ")\n";
        });
}

int runMode(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("mode [rule|global|direct] [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    if (parsed->positional.size() > 1)
        return usageError(err, usage, QStringLiteral("give at most one mode"));
    const auto print = [](const QJsonObject& data, QTextStream& o) { o << text(data, "mode") << '\n'; };
    if (parsed->positional.isEmpty()) {
        // The mode alone, from the status.
        const bool json = parsed->json;
        return request(AppCommand(QStringLiteral("getStatus")), false, out, err,
                       [json](const QJsonObject& data, QTextStream& o) {
                           if (json)
                               o << QJsonDocument(QJsonObject{{QStringLiteral("mode"),
                                                               data.value(QLatin1String("mode"))}})
                                        .toJson();
                           else
                               o << text(data, "mode") << '\n';
                       });
    }
    const QString mode = parsed->positional.first();
    if (mode != QLatin1String("rule") && mode != QLatin1String("global") && mode != QLatin1String("direct"))
        return usageError(err, usage, QStringLiteral("unknown mode \"%1\"").arg(mode));
    return request(AppCommand(QStringLiteral("setMode"), {{QStringLiteral("mode"), mode}}), parsed->json, out,
                   err, print);
}

int runKernel(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("kernel check|upgrade [--channel stable|alpha|smart] [--json]");
    const std::optional<Arguments> parsed =
        parseArguments(arguments, usage, err, {}, {QStringLiteral("--channel")});
    if (!parsed)
        return exitUsage;
    const QString verb = parsed->positional.value(0);
    if (parsed->positional.size() != 1 ||
        (verb != QLatin1String("check") && verb != QLatin1String("upgrade")))
        return usageError(err, usage, QStringLiteral("say check or upgrade"));
    if (verb == QLatin1String("check")) {
        if (parsed->values.contains(QStringLiteral("--channel")))
            return usageError(err, usage, QStringLiteral("check looks at the installed kernel's channel"));
        return request(AppCommand(QStringLiteral("checkKernelUpdate")), parsed->json, out, err,
                       [](const QJsonObject& data, QTextStream& o) {
                           o << "Installed: " << text(data, "current") << " (" << text(data, "channel")
                             << " channel)\nLatest:    " << text(data, "latest") << '\n'
                             << (text(data, "hasUpdate") == QLatin1String("true")
                                     ? "An update is available: tarnwick kernel upgrade\n"
                                     : "No update available\n");
                       });
    }
    const QString channel = parsed->values.value(QStringLiteral("--channel"), QStringLiteral("stable"));
    if (channel != QLatin1String("stable") && channel != QLatin1String("alpha") &&
        channel != QLatin1String("smart"))
        return usageError(err, usage, QStringLiteral("unknown channel \"%1\"").arg(channel));
    return request(AppCommand(QStringLiteral("upgradeKernel"), {{QStringLiteral("channel"), channel}}),
                   parsed->json, out, err, [](const QJsonObject& data, QTextStream& o) {
                       o << "Kernel " << text(data, "version") << " (" << text(data, "channel")
                         << " channel) installed and active\n";
                   });
}

int runApp(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("app check|upgrade [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    const QString verb = parsed->positional.value(0);
    if (parsed->positional.size() != 1 ||
        (verb != QLatin1String("check") && verb != QLatin1String("upgrade")))
        return usageError(err, usage, QStringLiteral("say check or upgrade"));
    if (verb == QLatin1String("check")) {
        return request(AppCommand(QStringLiteral("checkAppUpdate")), parsed->json, out, err,
                       [](const QJsonObject& data, QTextStream& o) {
                           if (text(data, "hasUpdate") == QLatin1String("true"))
                               o << "Tarnwick " << text(data, "version")
                                 << " is available: tarnwick app upgrade\n";
                           else
                               o << "Tarnwick " << text(data, "version") << " is up to date\n";
                       });
    }
    return request(AppCommand(QStringLiteral("upgradeApp")), parsed->json, out, err,
                   [](const QJsonObject& data, QTextStream& o) { o << text(data, "status") << '\n'; });
}

} // namespace

QList<CliCommand> appCommands()
{
    return {
        {QStringLiteral("status"), QStringLiteral("status [--json]"),
         QStringLiteral("show the kernel, the active profile and the outbound mode"), runStatus},
        {QStringLiteral("switch"), QStringLiteral("switch NAME [--json]"),
         QStringLiteral("make a profile (by name or file name) the active one and restart the kernel on it"),
         runSwitch},
        {QStringLiteral("start"), QStringLiteral("start [--json]"), QStringLiteral("start the kernel"),
         runStart},
        {QStringLiteral("stop"), QStringLiteral("stop [--json]"),
         QStringLiteral("stop the kernel (it stays stopped at the next launch)"), runStop},
        {QStringLiteral("restart"), QStringLiteral("restart [--json]"), QStringLiteral("restart the kernel"),
         runRestart},
        {QStringLiteral("mode"), QStringLiteral("mode [rule|global|direct] [--json]"),
         QStringLiteral("show or set the outbound mode"), runMode},
        {QStringLiteral("providers"), QStringLiteral("providers [--json]"),
         QStringLiteral("list the proxy and rule providers"), runProviders},
        {QStringLiteral("health"), QStringLiteral("health [--json]"),
         QStringLiteral("test the latency of every proxy group"), runHealth},
        {QStringLiteral("kernel"), QStringLiteral("kernel check|upgrade [--channel C] [--json]"),
         QStringLiteral("check for or install the newest kernel (channel stable, alpha or smart)"),
         runKernel},
        {QStringLiteral("app"), QStringLiteral("app check|upgrade [--json]"),
         QStringLiteral("check for or install an update of Tarnwick itself"), runApp},
    };
}

} // namespace tarnwick::cli
