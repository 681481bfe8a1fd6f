#include "Commands.h"
#include "RemoteCall.h"

#include <QJsonArray>

namespace tarnwick::cli {

namespace {

const QString kUsage =
    QStringLiteral("rules [list | add RULE [--at N] | update N RULE | delete N | toggle N | "
                   "swap N M] [--json]");

void renderRules(const QJsonObject& data, QTextStream& out)
{
    const QJsonArray rules = listOf(data);
    if (rules.isEmpty()) {
        out << "The active profile has no rules.\n";
        return;
    }
    QList<QStringList> rows{
        {QStringLiteral("#"), QStringLiteral("ON"), QStringLiteral("HITS"), QStringLiteral("RULE")}};
    for (const QJsonValue& value : rules) {
        const QJsonObject rule = value.toObject();
        const bool enabled = rule.value(QLatin1String("enabled")).toBool();
        rows.append(
            {QString::number(rule.value(QLatin1String("index")).toInteger()),
             enabled ? QStringLiteral("yes") : QStringLiteral("no"),
             enabled ? QString::number(rule.value(QLatin1String("hits")).toInteger()) : QStringLiteral("-"),
             rule.value(QLatin1String("rule")).toString()});
    }
    out << table(rows);
}

void renderEdit(const QJsonObject& data, QTextStream& out)
{
    out << (data.value(QLatin1String("reloaded")).toString() == QLatin1String("true")
                ? "Saved; the kernel reloaded the profile\n"
                : "Saved; the kernel takes it up at its next start\n");
}

std::optional<qint64> index(const QString& text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 ? std::optional<qint64>(value) : std::nullopt;
}

int runRules(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const std::optional<Arguments> parsed =
        parseArguments(arguments, kUsage, err, {}, {QStringLiteral("--at")});
    if (!parsed)
        return exitUsage;
    const QStringList words = parsed->positional;
    const QString verb = words.value(0, QStringLiteral("list"));
    QString problem;
    // Every index the verb takes, checked before anything is sent.
    const auto indexes = [&](qsizetype from, qsizetype count) -> std::optional<QList<qint64>> {
        QList<qint64> values;
        for (qsizetype i = from; i < from + count; ++i) {
            const std::optional<qint64> value = index(words.value(i));
            if (!value) {
                problem = QStringLiteral("\"%1\" is not a rule number").arg(words.value(i));
                return std::nullopt;
            }
            values.append(*value);
        }
        return values;
    };
    const auto expect = [&](qsizetype count) {
        if (words.size() == count)
            return true;
        problem = QStringLiteral("wrong number of arguments for rules %1").arg(verb);
        return false;
    };
    if (verb != QLatin1String("add") && parsed->values.contains(QStringLiteral("--at")))
        return usageError(err, kUsage, QStringLiteral("--at belongs to rules add"));

    std::optional<AppCommand> command;
    if (verb == QLatin1String("list")) {
        if (words.size() <= 1)
            command = AppCommand(QStringLiteral("getRules"));
        else
            expect(1);
    } else if (verb == QLatin1String("add")) {
        QJsonObject fields;
        if (expect(2)) {
            fields.insert(QStringLiteral("rule"), words[1]);
            if (parsed->values.contains(QStringLiteral("--at"))) {
                const std::optional<qint64> at = index(parsed->values.value(QStringLiteral("--at")));
                if (at)
                    fields.insert(QStringLiteral("index"), *at);
                else
                    problem = QStringLiteral("--at needs a rule number");
            }
            if (problem.isEmpty())
                command = AppCommand(QStringLiteral("insertRule"), fields);
        }
    } else if (verb == QLatin1String("update")) {
        if (expect(3)) {
            if (const auto at = indexes(1, 1))
                command = AppCommand(QStringLiteral("updateRule"), {{QStringLiteral("index"), at->first()},
                                                                    {QStringLiteral("rule"), words[2]}});
        }
    } else if (verb == QLatin1String("delete") || verb == QLatin1String("toggle")) {
        if (expect(2)) {
            if (const auto at = indexes(1, 1))
                command = AppCommand(verb == QLatin1String("delete") ? QStringLiteral("deleteRule")
                                                                     : QStringLiteral("toggleRule"),
                                     {{QStringLiteral("index"), at->first()}});
        }
    } else if (verb == QLatin1String("swap")) {
        if (expect(3)) {
            if (const auto at = indexes(1, 2))
                command = AppCommand(QStringLiteral("swapRules"), {{QStringLiteral("index"), at->at(0)},
                                                                   {QStringLiteral("with"), at->at(1)}});
        }
    } else {
        problem = QStringLiteral("unknown rules command \"%1\"").arg(verb);
    }
    if (!command)
        return usageError(err, kUsage, problem);
    return request(*command, parsed->json, out, err,
                   command->name() == QLatin1String("getRules") ? Render(renderRules) : Render(renderEdit));
}

} // namespace

CliCommand rulesCommand()
{
    return {QStringLiteral("rules"), kUsage,
            QStringLiteral("list or edit the rules of the active profile\n\n"
                           "Rules are numbered from 0 as \"rules\" lists them, disabled ones included.\n"
                           "Edits change only the rule's own line of the profile file; a disabled rule\n"
                           "stays in the file as a comment. A running kernel reloads the profile at once.\n"
                           "  add RULE [--at N]   insert a rule (at the end, or so that it becomes rule N)\n"
                           "  update N RULE       replace rule N\n"
                           "  delete N            remove rule N\n"
                           "  toggle N            disable or enable rule N\n"
                           "  swap N M            exchange rules N and M"),
            runRules};
}

} // namespace tarnwick::cli
