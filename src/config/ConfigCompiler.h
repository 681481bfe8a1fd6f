#pragma once

#include "config/yaml/NativeValue.h"
#include "platform/Error.h"

#include <QMap>
#include <QString>

namespace tarnwick {

// A profile that cannot be compiled. Worded for subscriptions, since most profiles are downloaded ones.
class CompilationError final : public Error
{
public:
    enum class Kind
    {
        EmptyConfig,
        InvalidRootNode,
    };

    explicit CompilationError(Kind kind);
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Compiles the kernel's runtime configuration: the routing content of a profile (proxies, groups,
// providers, rules) under the user's engine settings, with the optional QUIC-blocking rule and the
// subscriptions mounted into the profile as proxy providers. The result is JSON with sorted keys.
namespace ConfigCompiler {

// File path of a downloaded remote profile → its subscription URL (empty when it has none).
using MountedSubscriptions = QMap<QString, QString>;

// The only top-level keys taken from a profile.
inline const QStringList profileOwnedKeys{
    QStringLiteral("proxies"),        QStringLiteral("proxy-groups"), QStringLiteral("proxy-providers"),
    QStringLiteral("rule-providers"), QStringLiteral("rules"),        QStringLiteral("sub-rules"),
    QStringLiteral("listeners"),
};

// Any endpoint answering HTTP 204 serves the mounted providers' health checks.
inline const QString healthCheckUrl = QStringLiteral("https://www.gstatic.com/generate_204");

inline const QString quicBlockAllRule = QStringLiteral("AND,((DST-PORT,443),(NETWORK,UDP)),REJECT");
inline const QString quicBlockOverseasRule =
    QStringLiteral("AND,((DST-PORT,443),(NETWORK,UDP),(NOT,((GEOIP,CN,no-resolve)))),REJECT");

// Lays the profile's routing content over the overrides (which may carry "quicBlockMode"). Pure.
NativeValue::Dictionary assemble(NativeValue::Dictionary profile, NativeValue::Dictionary overrides,
                                 const MountedSubscriptions& mountedSubscriptions);

// The runtime configuration of the profile file as pretty-printed UTF-8 JSON. Throws FileError (read),
// YAMLError, CompilationError or NativeValueError.
QByteArray compile(const QString& sourcePath, NativeValue::Dictionary overrides,
                   const MountedSubscriptions& mountedSubscriptions);

// Compiles, replaces the target atomically (nothing is written when compiling fails) and stages each
// mounted subscription's file as providers/<name>.yaml beside the target. Staging never fails the call.
void compileAndWrite(const QString& sourcePath, const QString& targetPath, NativeValue::Dictionary overrides,
                     const MountedSubscriptions& mountedSubscriptions);

} // namespace ConfigCompiler
} // namespace tarnwick
