#include "KernelCommand.h"

namespace tarnwick::KernelCommand {

QStringList runArguments(const QString& workDirectory, const QString& configFile, const QString& host,
                         int port)
{
    return {QStringLiteral("-d"),       workDirectory,
            QStringLiteral("-f"),       configFile,
            QStringLiteral("-ext-ctl"), controllerAddress(host, port)};
}

QMap<QString, QString> runEnvironment(const QString& secret)
{
    QMap<QString, QString> environment;
    if (!secret.isEmpty())
        environment.insert(secretVariable, secret);
    return environment;
}

QString controllerAddress(const QString& host, int port)
{
    const bool bracketed = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
    return (bracketed ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':') +
           QString::number(port);
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
