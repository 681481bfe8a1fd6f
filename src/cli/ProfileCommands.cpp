#include "Commands.h"
#include "RemoteCall.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace tarnwick::cli {

namespace {

const QString kUsage =
    QStringLiteral("profiles [list | import FILE|URL [--name N] [--interval HOURS] | update [NAME] | "
                   "rename NAME NEW | delete NAME] [--json]");

void renderList(const QJsonObject& data, QTextStream& out)
{
    const QString active = text(data, "active");
    const QStringList names = text(data, "profiles").split(u'\n', Qt::SkipEmptyParts);
    const QStringList files = text(data, "fileNames").split(u'\n', Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        out << "No profiles. Add one with: tarnwick profiles import FILE|URL\n";
        return;
    }
    QList<QStringList> rows{{QString(), QStringLiteral("NAME"), QStringLiteral("FILE")}};
    for (qsizetype i = 0; i < names.size(); ++i)
        rows.append({names[i] == active ? QStringLiteral("*") : QString(), names[i], files.value(i)});
    out << table(rows);
}

int runProfiles(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const std::optional<Arguments> parsed =
        parseArguments(arguments, kUsage, err, {}, {QStringLiteral("--name"), QStringLiteral("--interval")});
    if (!parsed)
        return exitUsage;
    const QStringList words = parsed->positional;
    const QString verb = words.value(0, QStringLiteral("list"));
    if (verb != QLatin1String("import") && !parsed->values.isEmpty())
        return usageError(err, kUsage, QStringLiteral("--name and --interval belong to profiles import"));
    const auto wrongCount = [&] {
        return usageError(err, kUsage, QStringLiteral("wrong number of arguments for profiles %1").arg(verb));
    };

    if (verb == QLatin1String("list")) {
        if (words.size() > 1)
            return wrongCount();
        return request(AppCommand(QStringLiteral("getProfiles")), parsed->json, out, err, renderList);
    }
    if (verb == QLatin1String("import")) {
        if (words.size() != 2)
            return wrongCount();
        QString source = words[1];
        const bool remote =
            source.startsWith(QLatin1String("http://")) || source.startsWith(QLatin1String("https://"));
        if (!remote) {
            // The application reads the file itself, from wherever it was started.
            const QFileInfo file(source);
            if (!file.isFile())
                return usageError(err, kUsage, QStringLiteral("no such file: %1").arg(source));
            source = file.absoluteFilePath();
        }
        QJsonObject fields{{QStringLiteral("source"), source}};
        if (parsed->values.contains(QStringLiteral("--name")))
            fields.insert(QStringLiteral("name"), parsed->values.value(QStringLiteral("--name")));
        if (parsed->values.contains(QStringLiteral("--interval"))) {
            bool ok = false;
            const qint64 hours = parsed->values.value(QStringLiteral("--interval")).toLongLong(&ok);
            if (!ok || hours < 1 || !remote)
                return usageError(err, kUsage, QStringLiteral("--interval takes whole hours, for a URL"));
            fields.insert(QStringLiteral("intervalHours"), hours);
        }
        return request(AppCommand(QStringLiteral("importProfile"), fields), parsed->json, out, err,
                       [](const QJsonObject& data, QTextStream& o) {
                           o << "Imported " << text(data, "name") << " (" << text(data, "fileName")
                             << "); use it with: tarnwick switch \"" << text(data, "name") << "\"\n";
                           if (data.contains(QLatin1String("notice")))
                               o << text(data, "notice") << '\n';
                       });
    }
    if (verb == QLatin1String("update")) {
        if (words.size() > 2)
            return wrongCount();
        QJsonObject fields;
        if (words.size() == 2)
            fields.insert(QStringLiteral("name"), words[1]);
        return request(AppCommand(QStringLiteral("updateProfiles"), fields), parsed->json, out, err,
                       [](const QJsonObject& data, QTextStream& o) {
                           const QJsonArray updated = listOf(data);
                           if (updated.isEmpty())
                               o << "No subscriptions to update\n";
                           for (const QJsonValue& value : updated)
                               o << "Updated " << value.toObject().value(QLatin1String("name")).toString()
                                 << '\n';
                       });
    }
    if (verb == QLatin1String("rename")) {
        if (words.size() != 3)
            return wrongCount();
        return request(AppCommand(QStringLiteral("renameProfile"), {{QStringLiteral("name"), words[1]},
                                                                    {QStringLiteral("newName"), words[2]}}),
                       parsed->json, out, err, [](const QJsonObject& data, QTextStream& o) {
                           o << "Renamed to " << text(data, "name") << " (" << text(data, "fileName")
                             << ")\n";
                       });
    }
    if (verb == QLatin1String("delete")) {
        if (words.size() != 2)
            return wrongCount();
        return request(AppCommand(QStringLiteral("deleteProfile"), {{QStringLiteral("name"), words[1]}}),
                       parsed->json, out, err, [](const QJsonObject& data, QTextStream& o) {
                           o << "Deleted " << text(data, "name") << " (" << text(data, "fileName") << ")\n";
                       });
    }
    return usageError(err, kUsage, QStringLiteral("unknown profiles command \"%1\"").arg(verb));
}

} // namespace

CliCommand profilesCommand()
{
    return {
        QStringLiteral("profiles"), kUsage,
        QStringLiteral("list, import, update, rename or delete profiles\n\n"
                       "  list                      the profiles; * marks the active one\n"
                       "  import FILE|URL           add a profile file, or a subscription URL that is\n"
                       "                            refreshed every 24 hours (--interval HOURS to change)\n"
                       "  update [NAME]             download one subscription again, or all of them\n"
                       "  rename NAME NEW           give a profile another name (and file name)\n"
                       "  delete NAME               remove a profile that is not the active one\n"
                       "Make a profile the active one with: tarnwick switch NAME"),
        runProfiles};
}

} // namespace tarnwick::cli
