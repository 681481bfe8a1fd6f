#include "KernelCommand.h"

namespace tarnwick::KernelCommand {

QStringList runArguments(const QString& workDirectory, const QString& configFile, const QString& host,
                         int port)
{
    return {QStringLiteral("-d"),       workDirectory,
            QStringLiteral("-f"),       configFile,
            QStringLiteral("-ext-ctl"), host + QLatin1Char(':') + QString::number(port)};
}

QMap<QString, QString> runEnvironment(const QString& secret)
{
    QMap<QString, QString> environment;
    if (!secret.isEmpty())
        environment.insert(secretVariable, secret);
    return environment;
}

QStringList testArguments(const QString& workDirectory, const QString& configFile)
{
    return {QStringLiteral("-d"), workDirectory, QStringLiteral("-f"), configFile, QStringLiteral("-t")};
}

QStringList identityArguments()
{
    return {QStringLiteral("-v")};
}

bool identityAccepted(int exitCode, const QString& output)
{
    return exitCode == 0 && output.toLower().contains(QLatin1String("mihomo"));
}

bool testOutputCountsAsValid(const QString& output)
{
    return output.contains(QLatin1String("global-client-fingerprint"));
}

} // namespace tarnwick::KernelCommand
