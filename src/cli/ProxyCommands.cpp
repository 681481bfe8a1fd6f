#include "Commands.h"
#include "RemoteCall.h"

namespace tarnwick::cli {

namespace {

QString delayText(qint64 delay)
{
    if (delay < 0)
        return QStringLiteral("-");
    return delay == 0 ? QStringLiteral("failed") : QStringLiteral("%1 ms").arg(delay);
}

// Every group as a heading with its current member, then its members with their last delays.
void renderGroups(const QJsonObject& data, QTextStream& out)
{
    const QJsonArray groups = listOf(data);
    if (groups.isEmpty()) {
        out << "No proxy groups.\n";
        return;
    }
    bool first = true;
    for (const QJsonValue& value : groups) {
        const QJsonObject group = value.toObject();
        const QString now = group.value(QLatin1String("now")).toString();
        if (!first)
            out << '\n';
        first = false;
        out << group.value(QLatin1String("name")).toString() << " ("
            << group.value(QLatin1String("type")).toString()
            << (group.value(QLatin1String("hidden")).toBool() ? ", hidden" : "") << ")"
            << (now.isEmpty() ? QString() : QStringLiteral(": ") + now) << '\n';
        QList<QStringList> rows{
            {QString(), QStringLiteral("MEMBER"), QStringLiteral("TYPE"), QStringLiteral("DELAY")}};
        for (const QJsonValue& memberValue : group.value(QLatin1String("members")).toArray()) {
            const QJsonObject member = memberValue.toObject();
            const QString name = member.value(QLatin1String("name")).toString();
            rows.append({name == now ? QStringLiteral("*") : QString(), name,
                         member.value(QLatin1String("type")).toString(),
                         delayText(member.value(QLatin1String("delay")).toInteger(-1))});
        }
        for (const QString& line : table(rows).split(u'\n', Qt::SkipEmptyParts))
            out << "  " << line << '\n';
    }
}

void renderModes(const QJsonObject& data, QTextStream& out)
{
    const QString proxy = data.value(QLatin1String("systemProxy")).toString();
    const bool applied = data.value(QLatin1String("systemProxyApplied")).toString() == QLatin1String("true");
    out << "System proxy: " << proxy;
    if (proxy == QLatin1String("on"))
        out << (applied ? " (pointing at the kernel)" : " (applied once the kernel runs)");
    out << "\nTUN mode:     " << data.value(QLatin1String("tun")).toString() << '\n';
}

int runGroups(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    return requestWithoutWords(arguments, out, err, QStringLiteral("groups [--json]"),
                               QStringLiteral("getGroups"), renderGroups);
}

int runSelect(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("select GROUP MEMBER [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    if (parsed->positional.size() != 2)
        return usageError(err, usage, QStringLiteral("give a group and one of its members"));
    return request(
        AppCommand(QStringLiteral("selectProxy"), {{QStringLiteral("group"), parsed->positional[0]},
                                                   {QStringLiteral("name"), parsed->positional[1]}}),
        parsed->json, out, err, [](const QJsonObject& data, QTextStream& o) {
            o << data.value(QLatin1String("group")).toString() << " now uses "
              << data.value(QLatin1String("now")).toString() << '\n';
        });
}

int runTest(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("test [GROUP] [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    if (parsed->positional.size() > 1)
        return usageError(err, usage, QStringLiteral("give at most one group"));
    QJsonObject fields;
    if (!parsed->positional.isEmpty())
        fields.insert(QStringLiteral("group"), parsed->positional.first());
    return request(AppCommand(QStringLiteral("testGroup"), fields), parsed->json, out, err, renderGroups);
}

// `proxy` and `tun`: the state without a word, or switched on or off.
int runSwitch(const QStringList& arguments, QTextStream& out, QTextStream& err, const QString& name,
              const QString& command)
{
    const QString usage = name + QStringLiteral(" [on|off] [--json]");
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    if (parsed->positional.isEmpty())
        return request(AppCommand(QStringLiteral("getProxyModes")), parsed->json, out, err, renderModes);
    const QString word = parsed->positional.first();
    if (parsed->positional.size() > 1 || (word != QLatin1String("on") && word != QLatin1String("off")))
        return usageError(err, usage, QStringLiteral("say on or off"));
    return request(AppCommand(command, {{QStringLiteral("enabled"), word == QLatin1String("on")}}),
                   parsed->json, out, err, renderModes);
}

} // namespace

QList<CliCommand> proxyCommands()
{
    return {
        {QStringLiteral("groups"), QStringLiteral("groups [--json]"),
         QStringLiteral(
             "list the proxy groups with their members, the member in use (*) and the last delays"),
         runGroups},
        {QStringLiteral("select"), QStringLiteral("select GROUP MEMBER [--json]"),
         QStringLiteral("make a group use one of its members"), runSelect},
        {QStringLiteral("test"), QStringLiteral("test [GROUP] [--json]"),
         QStringLiteral("test the latency of a group's members (without GROUP: of every group)"), runTest},
        {QStringLiteral("proxy"), QStringLiteral("proxy [on|off] [--json]"),
         QStringLiteral("show, or point the desktop's proxy settings at the kernel or back"),
         [](const QStringList& arguments, QTextStream& out, QTextStream& err) {
             return runSwitch(arguments, out, err, QStringLiteral("proxy"), QStringLiteral("setSystemProxy"));
         }},
        {QStringLiteral("tun"), QStringLiteral("tun [on|off] [--json]"),
         QStringLiteral("show or switch TUN mode (needs the helper's privileged mode)"),
         [](const QStringList& arguments, QTextStream& out, QTextStream& err) {
             return runSwitch(arguments, out, err, QStringLiteral("tun"), QStringLiteral("setTunMode"));
         }},
    };
}

} // namespace tarnwick::cli
