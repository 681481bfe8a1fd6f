#pragma once

#include "RuntimeChannel.h"
#include "platform/Error.h"

namespace tarnwick {

// Every failure of finding, downloading, installing, verifying and switching kernel executables.
class RuntimeError final : public Error
{
public:
    enum class Kind
    {
        networkFailure,
        releaseNotFound,
        compatibleAssetNotFound,
        verificationFailed,
        fsOperationFailed,
    };

    static RuntimeError networkFailure(const QString& message);
    static RuntimeError releaseNotFound(RuntimeChannel channel);
    static RuntimeError compatibleAssetNotFound(const QString& arch);
    static RuntimeError verificationFailed(qint32 exitCode, const QString& output);
    static RuntimeError fsOperationFailed(const QString& message);

    Kind kind() const { return m_kind; }
    // The message, channel raw value, architecture tag or verifier output, by kind.
    const QString& detail() const { return m_detail; }
    qint32 exitCode() const { return m_exitCode; }

    bool operator==(const RuntimeError& other) const
    {
        return m_kind == other.m_kind && m_detail == other.m_detail && m_exitCode == other.m_exitCode;
    }

private:
    RuntimeError(Kind kind, QString detail, qint32 exitCode, const QString& description)
        : Error(description), m_kind(kind), m_detail(std::move(detail)), m_exitCode(exitCode)
    {}

    Kind m_kind;
    QString m_detail;
    qint32 m_exitCode = 0;
};

} // namespace tarnwick
