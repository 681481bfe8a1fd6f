#pragma once

#include "app/AppCommand.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>

namespace tarnwick::cli {

// The exit statuses of every command.
enum ExitStatus
{
    exitSuccess = 0,
    exitFailed = 1,     // the application (or an offline command) reported an error
    exitUsage = 2,      // the command line is wrong
    exitNotRunning = 3, // nothing answers on the control socket
};

// A subcommand's command line: "--json", the flags and valued options it knows, and its positional words.
struct Arguments
{
    QStringList positional;
    QHash<QString, QString> values;
    QSet<QString> flags;
    bool json = false;

    bool has(const QString& flag) const { return flags.contains(flag); }
};

// Nothing, with `problem` set, for an unknown option or a valued option without its value. "--" ends the
// options.
std::optional<Arguments> parseArguments(const QStringList& arguments, const QStringList& flags,
                                        const QStringList& valued, QString* problem);

// Prints the problem and the usage line; returns exitUsage.
int usageError(QTextStream& err, const QString& usage, const QString& problem);

// parseArguments that prints the problem with the usage line itself.
std::optional<Arguments> parseArguments(const QStringList& arguments, const QString& usage, QTextStream& err,
                                        const QStringList& flags = {}, const QStringList& valued = {});

using Render = std::function<void(const QJsonObject& data, QTextStream& out)>;

// Sends the command to the running application. On success prints the response's "data" (with --json: as
// JSON, its "json" value as the list itself) or the human rendering; on failure the error on stderr.
int request(const AppCommand& command, bool json, QTextStream& out, QTextStream& err, const Render& human);

// A command of the running application that takes no words and no options beyond --json.
int requestWithoutWords(const QStringList& arguments, QTextStream& out, QTextStream& err,
                        const QString& usage, const QString& command, const Render& human);

// A field of a response's data as text (the application sends every scalar as a string).
QString text(const QJsonObject& data, const char* key);

// Rows as aligned columns, the first row being the header; the last column is never padded.
QString table(const QList<QStringList>& rows);

// The "json" value of a response's data, parsed.
QJsonArray listOf(const QJsonObject& data);

// A kernel time stamp as local "yyyy-MM-dd HH:mm", or the text as given when it is not one.
QString shortTime(const QString& iso);

} // namespace tarnwick::cli
