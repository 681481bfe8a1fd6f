#include "RemoteCall.h"

#include "ControlClient.h"
#include "app/AppSocketListener.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace tarnwick::cli {

std::optional<Arguments> parseArguments(const QStringList& arguments, const QStringList& flags,
                                        const QStringList& valued, QString* problem)
{
    Arguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
            parsed.positional.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--json")) {
            parsed.json = true;
        } else if (flags.contains(argument)) {
            parsed.flags.insert(argument);
        } else if (const qsizetype equals = argument.indexOf(u'=');
                   equals > 0 && valued.contains(argument.left(equals))) {
            parsed.values.insert(argument.left(equals), argument.mid(equals + 1));
        } else if (valued.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                *problem = QStringLiteral("option %1 needs a value").arg(argument);
                return std::nullopt;
            }
            parsed.values.insert(argument, arguments[++i]);
        } else {
            *problem = QStringLiteral("unknown option \"%1\"").arg(argument);
            return std::nullopt;
        }
    }
    return parsed;
}

int usageError(QTextStream& err, const QString& usage, const QString& problem)
{
    err << "tarnwick: " << problem << "\nusage: tarnwick " << usage << '\n';
    return exitUsage;
}

std::optional<Arguments> parseArguments(const QStringList& arguments, const QString& usage, QTextStream& err,
                                        const QStringList& flags, const QStringList& valued)
{
    QString problem;
    std::optional<Arguments> parsed = parseArguments(arguments, flags, valued, &problem);
    if (!parsed)
        usageError(err, usage, problem);
    return parsed;
}

int requestWithoutWords(const QStringList& arguments, QTextStream& out, QTextStream& err,
                        const QString& usage, const QString& command, const Render& human)
{
    const std::optional<Arguments> parsed = parseArguments(arguments, usage, err);
    if (!parsed)
        return exitUsage;
    if (!parsed->positional.isEmpty())
        return usageError(err, usage,
                          QStringLiteral("unexpected argument \"%1\"").arg(parsed->positional.first()));
    return request(AppCommand(command), parsed->json, out, err, human);
}

QString text(const QJsonObject& data, const char* key)
{
    return data.value(QLatin1String(key)).toString();
}

int request(const AppCommand& command, bool json, QTextStream& out, QTextStream& err, const Render& human)
{
    AppResponse response;
    try {
        response = ControlClient(AppSocketListener::defaultSocketPath()).send(command);
    } catch (const NotRunningError& error) {
        err << error.description() << '\n';
        return exitNotRunning;
    } catch (const Error& error) {
        err << "tarnwick: " << error.description() << '\n';
        return exitFailed;
    }
    if (!response.success) {
        err << response.error.value_or(QStringLiteral("Tarnwick reported a failure without a reason"))
            << '\n';
        return exitFailed;
    }
    const QJsonObject data = response.data.value_or(QJsonObject());
    if (!json) {
        human(data, out);
        return exitSuccess;
    }
    const QByteArray text = data.contains(QLatin1String("json"))
                                ? QJsonDocument(listOf(data)).toJson(QJsonDocument::Indented)
                                : QJsonDocument(data).toJson(QJsonDocument::Indented);
    out << QString::fromUtf8(text);
    return exitSuccess;
}

QString table(const QList<QStringList>& rows)
{
    QList<qsizetype> widths;
    for (const QStringList& row : rows) {
        for (qsizetype column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths.append(0);
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column) {
            const bool last = column + 1 == row.size();
            line += last ? row[column] : row[column].leftJustified(widths[column]) + QStringLiteral("  ");
        }
        text += line + u'\n';
    }
    return text;
}

QJsonArray listOf(const QJsonObject& data)
{
    return QJsonDocument::fromJson(data.value(QLatin1String("json")).toString().toUtf8()).array();
}

QString shortTime(const QString& iso)
{
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid())
        return iso.isEmpty() ? QStringLiteral("-") : iso;
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace tarnwick::cli
