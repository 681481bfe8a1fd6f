#include "Commands.h"
#include "config/yaml/Parser.h"
#include "config/yaml/YAMLError.h"

#include <QFile>

namespace tarnwick::cli {

namespace {

// Prints each document of each file as one line of compact JSON (the native conversion), so that users
// can see what a profile means. The first file that cannot be read ends the run with status 1.
// Errors name the file in front of the position, as compilers do, so that editors can jump to it.
int runYaml(const QStringList& given, QTextStream& out, QTextStream& err)
{
    // The output is JSON already.
    QStringList arguments = given;
    arguments.removeAll(QStringLiteral("--json"));
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
        } catch (const YAMLError& error) {
            out.flush();
            err << path << ':' << error.description() << '\n';
            return 1;
        } catch (const Error& error) {
            out.flush();
            err << path << ": " << error.description() << '\n';
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
