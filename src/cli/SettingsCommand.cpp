#include "Commands.h"
#include "RemoteCall.h"

#include <QJsonArray>

namespace tarnwick::cli {

namespace {

const QString kUsage = QStringLiteral("settings [KEY [VALUE] | --reset KEY] [--json]");

// Long values (lists, URLs) are cut to keep the table readable; "settings KEY" shows them whole.
QString brief(QString value)
{
    value.replace(u'\n', QStringLiteral(", "));
    return value.size() > 48 ? value.left(45) + QStringLiteral("...") : value;
}

QString effectWords(const QString& effect)
{
    return effect == QLatin1String("reload") ? QStringLiteral("applied at once")
                                             : QStringLiteral("at the next start");
}

void renderList(const QJsonObject& data, QTextStream& out)
{
    const QJsonArray settings = listOf(data);
    if (settings.size() == 1) {
        const QJsonObject s = settings.first().toObject();
        out << table(
            {{QStringLiteral("Key:"), s.value(QLatin1String("key")).toString()},
             {QStringLiteral("Value:"), s.value(QLatin1String("value")).toString().replace(u'\n', u',')},
             {QStringLiteral("Default:"), s.value(QLatin1String("default")).toString().replace(u'\n', u',')},
             {QStringLiteral("Change:"), effectWords(s.value(QLatin1String("effect")).toString())}});
        return;
    }
    QList<QStringList> rows{{QStringLiteral("KEY"), QStringLiteral("VALUE"), QStringLiteral("DEFAULT"),
                             QStringLiteral("CHANGE")}};
    for (const QJsonValue& value : settings) {
        const QJsonObject s = value.toObject();
        const bool changed = s.value(QLatin1String("changed")).toBool();
        rows.append(
            {s.value(QLatin1String("key")).toString(),
             changed ? brief(s.value(QLatin1String("value")).toString()) : QStringLiteral("(default)"),
             brief(s.value(QLatin1String("default")).toString()),
             effectWords(s.value(QLatin1String("effect")).toString())});
    }
    out << table(rows);
}

int runSettings(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const std::optional<Arguments> parsed =
        parseArguments(arguments, kUsage, err, {QStringLiteral("--reset")});
    if (!parsed)
        return exitUsage;
    const QStringList words = parsed->positional;
    if (parsed->has(QStringLiteral("--reset"))) {
        if (words.size() != 1)
            return usageError(err, kUsage, QStringLiteral("--reset takes one key"));
    } else if (words.size() > 2) {
        return usageError(err, kUsage, QStringLiteral("give a key and at most one value"));
    }
    if (words.size() < 2 && !parsed->has(QStringLiteral("--reset"))) {
        QJsonObject fields;
        if (!words.isEmpty())
            fields.insert(QStringLiteral("key"), words.first());
        return request(AppCommand(QStringLiteral("getSettings"), fields), parsed->json, out, err, renderList);
    }
    QJsonObject fields{{QStringLiteral("key"), words.first()}};
    if (parsed->has(QStringLiteral("--reset")))
        fields.insert(QStringLiteral("reset"), true);
    else
        fields.insert(QStringLiteral("value"), words[1]);
    return request(AppCommand(QStringLiteral("setSetting"), fields), parsed->json, out, err,
                   [](const QJsonObject& data, QTextStream& o) {
                       o << data.value(QLatin1String("key")).toString() << " = "
                         << data.value(QLatin1String("value")).toString().replace(u'\n', u',') << " ("
                         << (data.value(QLatin1String("effect")).toString() == QLatin1String("reload")
                                 ? "the running kernel reloads it at once"
                                 : "takes effect at the next start")
                         << ")\n";
                   });
}

} // namespace

CliCommand settingsCommand()
{
    return {QStringLiteral("settings"), kUsage,
            QStringLiteral("list, show or change the settings\n\n"
                           "Without a key: every setting with its value, its default and when a change\n"
                           "takes effect. KEY: that setting. KEY VALUE: change it (true/false, a number, or\n"
                           "text; lists separated by commas). --reset KEY: back to the default."),
            runSettings};
}

} // namespace tarnwick::cli
