#include "AppError.h"

#include "ConfigValidationError.h"
#include "config/AtomicFile.h"
#include "config/ConfigCompiler.h"
#include "config/ProfileStore.h"
#include "config/WorkspaceError.h"
#include "config/yaml/NativeValue.h"
#include "config/yaml/YAMLError.h"
#include "controller/MihomoClientError.h"
#include "controller/NetworkError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tarnwick {

namespace {

QString httpErrorText(const MihomoClientError& error)
{
    const QString status = QString::number(error.status());
    const QJsonDocument document = QJsonDocument::fromJson(error.body().toUtf8());
    const QJsonValue message = document.object().value(QLatin1String("message"));
    if (message.isString())
        return QStringLiteral("Mihomo: ") + message.toString() + QStringLiteral(" (HTTP ") + status +
               QLatin1Char(')');
    const QString body = error.body().trimmed();
    if (!body.isEmpty())
        return QStringLiteral("HTTP ") + status + QStringLiteral(": ") + body;
    return error.description();
}

// The text of a log line's msg="..." field, or the whole line when there is none.
QString messageField(const QString& line)
{
    static const QString marker = QStringLiteral("msg=\"");
    const qsizetype start = line.indexOf(marker);
    if (start < 0)
        return line;
    const qsizetype from = start + marker.size();
    const qsizetype end = line.indexOf(QLatin1Char('"'), from);
    if (end < 0)
        return line;
    return line.mid(from, end - from);
}

} // namespace

AppError AppError::from(const std::exception& error, bool duringKernelStart)
{
    if (const auto* appError = dynamic_cast<const AppError*>(&error))
        return *appError;
    if (const auto* validation = dynamic_cast<const ConfigValidationError*>(&error))
        return {Kind::preflightFailed, validation->description()};

    // The profile or the workspace, not the kernel: no crash, whenever it happens.
    if (dynamic_cast<const YAMLError*>(&error) || dynamic_cast<const CompilationError*>(&error) ||
        dynamic_cast<const NativeValueError*>(&error))
        return {Kind::preflightFailed, describe(error)};
    if (dynamic_cast<const FileError*>(&error) || dynamic_cast<const WorkspaceError*>(&error) ||
        dynamic_cast<const ProfileStoreError*>(&error))
        return {Kind::operationFailed, describe(error)};

    QString text;
    if (const auto* client = dynamic_cast<const MihomoClientError*>(&error);
        client && client->kind() == MihomoClientError::Kind::httpError)
        text = httpErrorText(*client);
    else if (const auto* network = dynamic_cast<const NetworkError*>(&error))
        text = QStringLiteral("Network Error: ") + network->systemDescription();
    else
        text = describe(error);
    return {duringKernelStart ? Kind::kernelCrashed : Kind::operationFailed, text};
}

QString AppError::cleanMessage(const QString& message)
{
    QStringList kept;
    for (const QString& rawLine : message.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.contains(QLatin1String("configuration file")))
            continue;
        if (line.contains(QLatin1String("level=error")) || line.contains(QLatin1String("level=fatal")) ||
            line.contains(QLatin1String("level=warning"))) {
            kept.append(messageField(line));
            continue;
        }
        if (line.contains(QLatin1String("level=")))
            continue;
        const QString lowered = line.toLower();
        const bool reportsFailure =
            lowered.contains(QLatin1String("error")) || lowered.contains(QLatin1String("fatal")) ||
            lowered.contains(QLatin1String("failed")) || lowered.contains(QLatin1String("panic"));
        const bool isNoise = lowered.contains(QLatin1String("start initial configuration")) ||
                             lowered.contains(QLatin1String("geodata loader")) ||
                             lowered.contains(QLatin1String("geosite matcher"));
        if (reportsFailure && !isNoise)
            kept.append(line);
    }
    return kept.isEmpty() ? message : kept.join(QLatin1Char('\n'));
}

} // namespace tarnwick
