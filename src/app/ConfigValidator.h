#pragma once

#include "config/ClashPaths.h"

#include <QCoro/QCoroTask>
#include <QString>

namespace tarnwick {

// Runs the kernel's configuration test (`mihomo -d WORK -f CONFIG -t`) as a child process with a hard
// time limit. The blocking part runs on its own thread; the caller only awaits.
class ConfigValidator final
{
public:
    ConfigValidator(QString executable, QString workDirectory, double timeoutSeconds);
    ConfigValidator(const ClashPaths& paths, double timeoutSeconds);

    // Completes for a valid configuration; otherwise throws ConfigValidationError.
    QCoro::Task<> validate(QString configFile) const;

    const QString& executable() const { return m_executable; }
    double timeout() const { return m_timeout; }

private:
    QString m_executable;
    QString m_workDirectory;
    double m_timeout;
};

} // namespace tarnwick
