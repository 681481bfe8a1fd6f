#include "WifiNameSource.h"

#include "NetworkManagerBus.h"

#include <QProcess>
#include <QStandardPaths>

namespace tarnwick {

namespace {

constexpr int kToolBoundMs = 3000;

std::optional<QByteArray> outputOf(const QString& program, const QStringList& arguments)
{
    if (program.isEmpty())
        return std::nullopt;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(kToolBoundMs) || !process.waitForFinished(kToolBoundMs)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace

std::optional<QString> LinuxWifiNameSource::parseIwgetid(const QByteArray& output)
{
    const QString name = QString::fromUtf8(output.split('\n').value(0)).trimmed();
    return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
}

std::optional<QString> LinuxWifiNameSource::currentSSID()
{
    if (NetworkManagerBus::isRunning())
        return NetworkManagerBus::wifiName();
    const QString iwgetid = QStandardPaths::findExecutable(
        QStringLiteral("iwgetid"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    if (const std::optional<QByteArray> output = outputOf(iwgetid, {QStringLiteral("-r")}))
        return parseIwgetid(*output);
    return std::nullopt;
}

} // namespace tarnwick
