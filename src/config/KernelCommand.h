#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick {

// The three ways the kernel executable is invoked, and the orphan clean-up that precedes a run.
namespace KernelCommand {

// Run: "-d" work, "-f" config, "-ext-ctl" host:port, then "-secret" secret when the secret is not empty.
QStringList runArguments(const QString& workDirectory, const QString& configFile, const QString& host,
                         int port, const QString& secret);

// Configuration test, run with the work directory as current directory: "-d" work, "-f" config, "-t".
QStringList testArguments(const QString& workDirectory, const QString& configFile);

// Identity check of a candidate executable.
QStringList identityArguments();
// The identity run is accepted when it exited 0 and its lower-cased output mentions "mihomo".
bool identityAccepted(int exitCode, const QString& output);

// A failing configuration test still counts as valid when its output names this option.
bool testOutputCountsAsValid(const QString& output);

// Before every run: kill kernels left over from an earlier session.
inline const QString orphanCleanupCommand = QStringLiteral("/usr/bin/pkill");
QStringList orphanCleanupArguments();

// The name a launched kernel runs under, so that the orphan pattern matches it whatever the file is called.
inline const QString processName = QStringLiteral("mihomo");

} // namespace KernelCommand
} // namespace tarnwick
