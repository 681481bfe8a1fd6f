#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

namespace tarnwick::cli {

// One subcommand of the `tarnwick` tool. `run` gets the arguments after the command's name and returns
// the process exit status.
struct CliCommand
{
    QString name;
    QString usage;   // e.g. "yaml FILE..."
    QString summary; // one line for the help text
    std::function<int(const QStringList& arguments, QTextStream& out, QTextStream& err)> run;
};

} // namespace tarnwick::cli
