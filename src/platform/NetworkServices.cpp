#include "NetworkServices.h"

#include "NetworkManagerCli.h"
#include "platform/Logging.h"

#include <QProcess>
#include <qcoro/qcoroprocess.h>

namespace tarnwick {

using namespace std::chrono_literals;

QCoro::Task<QStringList> LinuxNetworkServices::enabledServices()
{
    const QString nmcli = NetworkManagerCli::executable();
    if (nmcli.isEmpty())
        co_return QStringList{NetworkManagerCli::systemService};
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    const QStringList arguments = NetworkManagerCli::activeConnectionsArguments();
    auto coroutine = qCoro(process);
    const bool started = co_await coroutine.start(nmcli, arguments, QIODevice::ReadOnly, 5s);
    if (!started || !co_await coroutine.waitForFinished(5s) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        // NetworkManager installed but not running: the machine is configured without it.
        qCInfo(lcAppState, "NetworkManager did not list its connections; using the service \"%s\"",
               qUtf8Printable(NetworkManagerCli::systemService));
        co_return QStringList{NetworkManagerCli::systemService};
    }
    QStringList names;
    for (const auto& connection : NetworkManagerCli::userNetworks(
             NetworkManagerCli::parseActiveConnections(process.readAllStandardOutput())))
        names.append(connection.name);
    // Offline: the desktop's proxy settings are still there to switch.
    if (names.isEmpty())
        names.append(NetworkManagerCli::systemService);
    co_return names;
}

} // namespace tarnwick
