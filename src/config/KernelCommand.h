#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace tarnwick {

// The three ways the kernel executable is invoked.
namespace KernelCommand {

// Run: "-d" work, "-f" config, "-ext-ctl" host:port. The secret is not among them: every local user can
// read a command line.
QStringList runArguments(const QString& workDirectory, const QString& configFile, const QString& host,
                         int port);
// The kernel reads its controller secret from this variable, which only its user and root can read.
inline const QString secretVariable = QStringLiteral("CLASH_OVERRIDE_SECRET");
// The environment of a run: the secret when it is not empty.
QMap<QString, QString> runEnvironment(const QString& secret);

// Configuration test, run with the work directory as current directory: "-d" work, "-f" config, "-t".
QStringList testArguments(const QString& workDirectory, const QString& configFile);

// Identity check of a candidate executable.
QStringList identityArguments();
// The identity run is accepted when it exited 0 and its lower-cased output mentions "mihomo".
bool identityAccepted(int exitCode, const QString& output);

// A failing configuration test still counts as valid when its output names this option.
bool testOutputCountsAsValid(const QString& output);

// The name a launched kernel runs under, whatever its file is called.
inline const QString processName = QStringLiteral("mihomo");

} // namespace KernelCommand
} // namespace tarnwick
