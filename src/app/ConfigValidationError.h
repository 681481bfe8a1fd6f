#pragma once

#include "platform/Error.h"

namespace tarnwick {

// Why the kernel's configuration test did not pass; the description is what the alert shows.
class ConfigValidationError final : public Error
{
public:
    enum class Kind
    {
        binaryNotFound,
        launchFailed,
        timedOut,
        failed
    };

    static ConfigValidationError binaryNotFound(const QString& path)
    {
        return {Kind::binaryNotFound, QStringLiteral("mihomo binary not found at ") + path, {}, 0};
    }
    static ConfigValidationError launchFailed(const QString& reason)
    {
        return {Kind::launchFailed, QStringLiteral("Failed to run mihomo -t: ") + reason, {}, 0};
    }
    static ConfigValidationError timedOut(int seconds, const QString& output)
    {
        QString text = QStringLiteral("mihomo -t timed out after %1s").arg(seconds);
        if (!output.isEmpty())
            text += QLatin1Char('\n') + output;
        return {Kind::timedOut, text, output, 0};
    }
    static ConfigValidationError failed(qint32 exitCode, const QString& output)
    {
        return {Kind::failed, output.isEmpty() ? QStringLiteral("Configuration test failed") : output, output,
                exitCode};
    }

    Kind kind() const { return m_kind; }
    const QString& output() const { return m_output; }
    qint32 exitCode() const { return m_exitCode; }

private:
    ConfigValidationError(Kind kind, QString text, QString output, qint32 exitCode)
        : Error(std::move(text)), m_kind(kind), m_output(std::move(output)), m_exitCode(exitCode)
    {}

    Kind m_kind;
    QString m_output;
    qint32 m_exitCode;
};

} // namespace tarnwick
