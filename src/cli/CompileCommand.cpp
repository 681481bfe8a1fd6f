#include "Commands.h"
#include "config/ConfigCompiler.h"
#include "config/EngineSettings.h"
#include "config/SettingsNotice.h"
#include "config/yaml/YAMLError.h"
#include "platform/Settings.h"

#include <QFileInfo>
#include <cstdio>

namespace tarnwick::cli {

namespace {

// Compiles a profile with the user's current engine settings and writes what the kernel would get:
// to standard output, or with -o to a file, replaced atomically and left alone when compiling fails.
int runCompile(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QString profile;
    QString target;
    bool usable = true;
    for (qsizetype i = 0; usable && i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("-o")) {
            usable = i + 1 < arguments.size() && target.isEmpty();
            if (usable)
                target = arguments[++i];
        } else if (argument != QLatin1String("--json")) { // the output is JSON already
            usable = profile.isEmpty() && !argument.startsWith(u'-');
            profile = argument;
        }
    }
    if (!usable || profile.isEmpty()) {
        err << "usage: tarnwick compile PROFILE [-o FILE]\n";
        return 2;
    }

    const auto resolved = [](const QString& path) {
        const QFileInfo file(path);
        return file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
    };
    if (!target.isEmpty() && resolved(target) == resolved(profile)) {
        err << "tarnwick: compile would overwrite the profile it reads (" << profile
            << "); write the runtime configuration to another file\n";
        return 2;
    }
    const Settings settings(Settings::defaultFilePath());
    for (const QString& note : SettingsNotice::forProfile(profile, settings))
        err << note << '\n';
    err.flush();
    try {
        NativeValue::Dictionary overrides = EngineSettings::buildOverridesFromDefaults(settings);
        if (!target.isEmpty()) {
            ConfigCompiler::compileAndWrite(profile, target, std::move(overrides), {});
            return 0;
        }
        const QByteArray json = ConfigCompiler::compile(profile, std::move(overrides), {});
        out.flush();
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        return 0;
    } catch (const YAMLError& error) {
        err << profile << ':' << error.description() << '\n';
        return 1;
    } catch (const std::exception& e) {
        err << describe(e) << '\n';
        return 1;
    }
}

} // namespace

CliCommand compileCommand()
{
    return CliCommand{QStringLiteral("compile"), QStringLiteral("compile PROFILE [-o FILE]"),
                      QStringLiteral("print the runtime configuration the kernel would get for a profile"),
                      runCompile};
}

} // namespace tarnwick::cli
