#include "Cli.h"

#include "CliCommand.h"
#include "Commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace tarnwick::cli {

namespace {

QList<CliCommand> commands()
{
    return {yamlCommand(), compileCommand(), historyCommand()};
}

void printHelp(QTextStream& out)
{
    out << "Usage: tarnwick COMMAND [ARGUMENTS]\n\nCommands:\n";
    for (const CliCommand& command : commands())
        out << "  " << command.usage.leftJustified(28) << ' ' << command.summary << '\n';
    out << "  " << QStringLiteral("--version").leftJustified(28) << " print the version\n";
}

} // namespace

int runCli(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty() || arguments.first() == QLatin1String("--help") ||
        arguments.first() == QLatin1String("-h")) {
        printHelp(arguments.isEmpty() ? err : out);
        return arguments.isEmpty() ? 2 : 0;
    }
    if (arguments.first() == QLatin1String("--version")) {
        out << "tarnwick " << TARNWICK_VERSION << '\n';
        return 0;
    }
    const QString name = arguments.takeFirst();
    for (const CliCommand& command : commands()) {
        if (command.name == name)
            return command.run(arguments, out, err);
    }
    err << "tarnwick: unknown command \"" << name << "\"\n";
    printHelp(err);
    return 2;
}

} // namespace tarnwick::cli
