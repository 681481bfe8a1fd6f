#include "Commands.h"
#include "config/yaml/Parser.h"

#include <QFile>

namespace tarnwick::cli {

namespace {

// Prints each document of each file as one line of compact JSON (the native conversion), so that users
// can see what a profile means. The first file that cannot be read ends the run with status 1.
int runYaml(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.isEmpty()) {
        err << "usage: tarnwick yaml FILE...\n";
        return 2;
    }
    for (const QString& path : arguments) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            err << "tarnwick: cannot read " << path << ": " << file.errorString() << '\n';
            return 1;
        }
        const QByteArray bytes = file.readAll();
        try {
            Parser parser{QByteArrayView(bytes)};
            while (const auto document = parser.nextDocument())
                out << QString::fromUtf8(document->toNative().toJson()) << '\n';
        } catch (const Error& error) {
            out.flush();
            err << error.description() << '\n';
            return 1;
        }
    }
    return 0;
}

} // namespace

CliCommand yamlCommand()
{
    return CliCommand{QStringLiteral("yaml"), QStringLiteral("yaml FILE..."),
                      QStringLiteral("print each YAML document as one line of JSON"), runYaml};
}

} // namespace tarnwick::cli
