#include "HelperService.h"

#include "BundleInstaller.h"
#include "CommandAllowList.h"
#include "HelperError.h"
#include "HelperProtocol.h"
#include "KernelLaunchPolicy.h"
#include "KernelLauncher.h"
#include "NetworkSetupBackend.h"
#include "platform/Logging.h"
#include "platform/NetworkSetupCommand.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <limits>
#include <optional>
#include <qcoro/qcoroprocess.h>
#include <qcoro/qcorosignal.h>
#include <unistd.h>

namespace tarnwick {

namespace {

namespace Key = HelperProtocol::Key;

// A watcher asks again after this at the latest, so a lost connection never leaves a wait behind for long.
constexpr std::chrono::milliseconds kLongestExitWait{60000};

QJsonObject failure(const QString& error)
{
    return QJsonObject{{Key::success, false}, {Key::error, error}};
}

QJsonObject success()
{
    return QJsonObject{{Key::success, true}};
}

// A list whose elements are all strings; nothing otherwise.
std::optional<QStringList> stringList(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue& element : value.toArray()) {
        if (!element.isString())
            return std::nullopt;
        list.append(element.toString());
    }
    return list;
}

QString commandLine(const QString& command, const QStringList& arguments)
{
    return (QStringList{command} + arguments).join(QLatin1Char(' '));
}

} // namespace

HelperService::HelperService(KernelLauncher* launcher, uid_t user, std::chrono::milliseconds commandBound,
                             QObject* parent)
    : QObject(parent), m_launcher(launcher), m_user(user), m_commandBound(commandBound),
      m_clientTimer(new QTimer(this))
{
    m_clientTimer->setInterval(clientCheckInterval);
    connect(m_clientTimer, &QTimer::timeout, this, &HelperService::stopOrphanedKernels);
}

QCoro::Task<QJsonObject> HelperService::handle(QJsonObject request, qint64 client)
{
    const QString operation = request.value(Key::operation).toString();
    if (operation == HelperProtocol::startKernel)
        co_return startKernel(request, client);
    if (operation == HelperProtocol::stopKernel)
        co_return co_await stopKernel(request);
    if (m_privileged &&
        (operation == HelperProtocol::runSystemCommand || operation == HelperProtocol::installUpdate ||
         operation == HelperProtocol::exitForUpdate))
        co_return failure(QStringLiteral("The privileged helper only starts and stops kernels"));
    if (operation == HelperProtocol::runSystemCommand) {
        const QString command = request.value(Key::command).toString();
        const std::optional<QStringList> arguments = stringList(request.value(Key::arguments));
        if (command.isEmpty() || !arguments)
            co_return failure(QStringLiteral("Invalid runSystemCommand request"));
        co_return co_await runSystemCommand(command, *arguments, client);
    }
    if (operation == HelperProtocol::waitForKernelExit)
        co_return co_await waitForKernelExit(request);
    if (operation == HelperProtocol::getVersion)
        co_return QJsonObject{{Key::version, QStringLiteral(TARNWICK_VERSION)}};
    if (operation == HelperProtocol::installUpdate)
        co_return installUpdate(request);
    if (operation == HelperProtocol::exitForUpdate) {
        // After the reply has gone out. A status other than 0 has a systemd user unit (Restart=on-failure)
        // start the new bundle's helper at once; where the application starts the helper, it starts the new
        // one when it finds none.
        QTimer::singleShot(exitForUpdateDelay, qApp, [] { QCoreApplication::exit(exitForUpdateStatus); });
        qCInfo(lcHelper, "Exiting for an application update");
        co_return success();
    }
    qCWarning(lcHelper, "Unknown operation \"%s\"", qUtf8Printable(operation));
    co_return QJsonObject{{Key::error, QStringLiteral("Unknown operation: ") + operation}};
}

QJsonObject HelperService::installUpdate(const QJsonObject& request) const
{
    const QString source = request.value(Key::sourcePath).toString();
    const QString target = request.value(Key::targetPath).toString();
    if (source.isEmpty() || target.isEmpty())
        return failure(QStringLiteral("Invalid installUpdate request"));
    try {
        BundleInstaller::install(source, target, m_user);
    } catch (const HelperError& error) {
        qCWarning(lcHelper, "Application update refused: %s", qUtf8Printable(error.description()));
        return failure(error.description());
    }
    return success();
}

QJsonObject HelperService::startKernel(const QJsonObject& request, qint64 client)
{
    const QString executable = request.value(Key::executablePath).toString();
    const std::optional<QStringList> arguments = stringList(request.value(Key::arguments));
    const QString logFile = request.value(Key::logFile).toString();
    if (executable.isEmpty() || !arguments || logFile.isEmpty())
        return QJsonObject{{Key::pid, -1}, {Key::error, QStringLiteral("Invalid startKernel request")}};
    try {
        KernelLaunchPolicy::check(executable, *arguments, logFile, m_user);
        const QStringList environment = KernelLaunchPolicy::environment(request.value(Key::environment));
        const qint32 pid = m_launcher->start(executable, *arguments, environment, logFile);
        const qint64 clientStart = ProcessIdentity::startTime(client);
        if (clientStart >= 0) {
            m_kernelClients.insert(pid, Client{client, clientStart});
            m_clientTimer->start();
        }
        return QJsonObject{{Key::pid, pid}};
    } catch (const HelperError& error) {
        qCWarning(lcHelper, "Kernel start failed: %s", qUtf8Printable(error.description()));
        return QJsonObject{{Key::pid, -1}, {Key::error, error.description()}};
    }
}

QCoro::Task<QJsonObject> HelperService::stopKernel(QJsonObject request)
{
    const QJsonValue pidValue = request.value(Key::pid);
    const qint64 pid = pidValue.toInteger(-1);
    if (!pidValue.isDouble() || pid <= 0 || pid > std::numeric_limits<qint32>::max())
        co_return failure(QStringLiteral("Invalid stopKernel request"));
    try {
        co_await m_launcher->stop(static_cast<qint32>(pid));
    } catch (const HelperError& error) {
        qCWarning(lcHelper, "Kernel stop failed: %s", qUtf8Printable(error.description()));
        co_return failure(error.description());
    }
    co_return success();
}

QCoro::Task<QJsonObject> HelperService::waitForKernelExit(QJsonObject request)
{
    const qint64 pid = request.value(Key::pid).toInteger(-1);
    const qint64 waitMs = request.value(Key::waitMs).toInteger(-1);
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max() || waitMs < 0 ||
        waitMs > kLongestExitWait.count())
        co_return failure(QStringLiteral("Invalid waitForKernelExit request"));
    const auto kernel = static_cast<qint32>(pid);
    if (!m_launcher->knows(kernel))
        co_return failure(QStringLiteral("PID %1 was not started by the helper").arg(kernel));

    QPointer<KernelLauncher> launcher(m_launcher);
    const QDeadlineTimer deadline{std::chrono::milliseconds(waitMs)};
    while (launcher && launcher->isRunning(kernel) && !deadline.hasExpired())
        co_await qCoro(launcher.data(), &KernelLauncher::exited,
                       std::chrono::ceil<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()));
    if (!launcher)
        co_return failure(QStringLiteral("The helper is shutting down"));
    if (launcher->isRunning(kernel))
        co_return QJsonObject{{Key::exited, false}};
    // Stopped through stopKernel meanwhile: that caller knows; otherwise this is the one report of its end.
    const QString status = launcher->exitDescription(kernel);
    launcher->forgetExited(kernel);
    co_return QJsonObject{{Key::exited, true},
                          {Key::status, status.isEmpty() ? QStringLiteral("stopped") : status}};
}

void HelperService::stopOrphanedKernels()
{
    for (auto it = m_kernelClients.begin(); it != m_kernelClients.end();) {
        const qint32 kernel = it.key();
        if (!m_launcher->isRunning(kernel)) {
            it = m_kernelClients.erase(it);
            continue;
        }
        if (ProcessIdentity::isAlive(it->pid, it->startTime)) {
            ++it;
            continue;
        }
        qCWarning(lcHelper,
                  "The application (PID %lld) that started the kernel (PID %d) has ended; stopping it",
                  static_cast<long long>(it->pid), kernel);
        it = m_kernelClients.erase(it);
        stopKernelOf(m_launcher, kernel);
    }
    if (m_kernelClients.isEmpty())
        m_clientTimer->stop();
}

QCoro::Task<> HelperService::stopKernelOf(QPointer<KernelLauncher> launcher, qint32 pid)
{
    try {
        if (launcher)
            co_await launcher->stop(pid);
    } catch (const std::exception& error) {
        qCWarning(lcHelper, "Kernel (PID %d) not stopped: %s", pid, qUtf8Printable(describe(error)));
    }
}

QCoro::Task<QJsonObject> HelperService::runSystemCommand(QString command, QStringList arguments,
                                                         qint64 client)
{
    const QString line = commandLine(command, arguments);
    if (!CommandAllowList::allows(command, arguments)) {
        qCWarning(lcHelper, "Refused system command: %s", qUtf8Printable(line));
        co_return failure(QStringLiteral("Command not allowed: ") + line);
    }
    if (const std::optional<NetworkSetupCommand::Command> network =
            NetworkSetupCommand::parse(command, arguments)) {
        if (!m_network)
            co_return failure(QStringLiteral("Network setup is not available"));
        try {
            m_network->run(*network, client);
        } catch (const HelperError& error) {
            qCWarning(lcHelper, "%s failed: %s", qUtf8Printable(line), qUtf8Printable(error.description()));
            co_return failure(error.description());
        }
        qCInfo(lcHelper, "Ran %s", qUtf8Printable(line));
        co_return success();
    }
    const std::chrono::milliseconds bound = m_commandBound;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    auto coroutine = qCoro(process);
    if (!co_await coroutine.start(command, arguments, QIODevice::ReadOnly, bound))
        co_return failure(QStringLiteral("Failed to run %1: %2").arg(command, process.errorString()));
    if (!co_await coroutine.waitForFinished(bound)) {
        process.kill();
        process.waitForFinished(1000);
        co_return failure(QStringLiteral("%1 did not finish within %2 ms").arg(command).arg(bound.count()));
    }
    const QByteArray output = process.readAll().trimmed();
    if (process.exitStatus() != QProcess::NormalExit)
        co_return failure(QStringLiteral("%1 crashed").arg(command));
    if (process.exitCode() != 0) {
        qCInfo(lcHelper, "%s exited with status %d: %s", qUtf8Printable(line), process.exitCode(),
               output.constData());
        co_return failure(QStringLiteral("%1 exited with status %2").arg(command).arg(process.exitCode()));
    }
    qCInfo(lcHelper, "Ran %s", qUtf8Printable(line));
    co_return success();
}

} // namespace tarnwick
