#include "Cli.h"

#include "CliCommand.h"
#include "Commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace tarnwick::cli {

QList<CliCommand> allCommands()
{
    return QList<CliCommand>{yamlCommand(), compileCommand(), historyCommand()} + appCommands() +
           proxyCommands() + connectionCommands() +
           QList<CliCommand>{profilesCommand(), rulesCommand(), settingsCommand(), completionCommand(),
                             manpageCommand()};
}

namespace {

void printHelp(QTextStream& out)
{
    out << "Usage: tarnwick COMMAND [ARGUMENTS]\n\nCommands:\n";
    for (const CliCommand& command : allCommands())
        out << "  " << QString(command.usage).remove(QLatin1String(" [--json]")).leftJustified(28) << ' '
            << command.summary.section(u'\n', 0, 0) << '\n';
    out << "  " << QStringLiteral("--version").leftJustified(28) << " print the version\n";
    out << "\nEvery command takes --help, and --json for output that scripts can read.\n"
           "Exit status: 0 success, 1 Tarnwick (or the command) reported an error, 2 usage error,\n"
           "3 Tarnwick is not running.\n";
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
    for (const CliCommand& command : allCommands()) {
        if (command.name != name)
            continue;
        // Help before anything else, so that no command ever takes "--help" for a file or a name.
        if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
            out << "usage: tarnwick " << command.usage << "\n\n" << command.summary << '\n';
            return 0;
        }
        return command.run(arguments, out, err);
    }
    err << "tarnwick: unknown command \"" << name << "\"\n";
    printHelp(err);
    return 2;
}

} // namespace tarnwick::cli
