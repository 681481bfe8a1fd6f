#include "HelperRegistration.h"

#include "HelperSocketPath.h"
#include "Logging.h"
#include "UnixSocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <qcoro/qcoroprocess.h>
#include <qcoro/qcorotimer.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnwick {

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 50ms;

QStringList userCommand(const QString& verb, const QString& unit = QString())
{
    QStringList arguments{QStringLiteral("--user"), verb};
    if (!unit.isEmpty())
        arguments << unit;
    return arguments;
}

// One argument of a unit's command line: quoted, with the characters systemd would expand escaped.
QString unitQuoted(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('%'), QStringLiteral("%%"))
        .replace(QLatin1Char('$'), QStringLiteral("$$"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A connected socket to the path, or -1.
int connectTo(const QString& socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return -1;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool listeningOn(const QString& socketPath)
{
    const int fd = connectTo(socketPath);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::optional<qint64> listeningPid(const QString& socketPath)
{
    const int fd = connectTo(socketPath);
    if (fd < 0)
        return std::nullopt;
    const std::optional<PeerCredentials> peer = peerCredentials(fd);
    ::close(fd);
    if (!peer || peer->uid != ::geteuid() || peer->pid < 0)
        return std::nullopt;
    return peer->pid;
}

bool launch(const HelperRegistration::Options& options)
{
    if (options.helperExecutable.isEmpty())
        return false;
    const QString directory = QFileInfo(options.socketPath).absolutePath();
    if (!HelperSocketPath::createPrivateDirectory(directory)) {
        qCWarning(lcHelper, "Cannot create the helper's socket directory %s", qUtf8Printable(directory));
        return false;
    }
    const QString log = directory + QStringLiteral("/helper.log");
    QProcess process;
    process.setProgram(options.helperExecutable);
    process.setArguments({QStringLiteral("--socket"), options.socketPath});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        qCWarning(lcHelper, "Cannot start the helper %s: %s", qUtf8Printable(options.helperExecutable),
                  qUtf8Printable(process.errorString()));
        return false;
    }
    qCInfo(lcHelper, "Started the helper %s (PID: %lld)", qUtf8Printable(options.helperExecutable),
           static_cast<long long>(pid));
    return true;
}

} // namespace

HelperRegistration::Options HelperRegistration::defaultOptions()
{
    Options options;
    options.socketPath = HelperSocketPath::defaultPath();
    QString executable = qEnvironmentVariable("TARNWICK_HELPER_PATH");
    if (executable.isEmpty())
        executable = QCoreApplication::applicationDirPath() + QStringLiteral("/tarnwick-helper");
    if (QFileInfo(executable).isExecutable())
        options.helperExecutable = executable;
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = QDir::homePath() + QStringLiteral("/.config");
    options.unitDirectory = configHome + QStringLiteral("/systemd/user");
    return options;
}

HelperRegistration::HelperRegistration(Options options) : m_options(std::move(options)) {}

HelperRegistration::Mode HelperRegistration::mode() const
{
    if (!m_mode) {
        QProcess probe;
        probe.start(m_options.systemctl, userCommand(QStringLiteral("show-environment")),
                    QIODevice::ReadOnly);
        const bool answered = probe.waitForFinished(static_cast<int>(m_options.bound.count())) &&
                              probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
        if (probe.state() != QProcess::NotRunning) {
            probe.kill();
            probe.waitForFinished(1000);
        }
        m_mode = answered ? Mode::systemdUser : Mode::selfStart;
    }
    return *m_mode;
}

HelperRegistrationStatus HelperRegistration::status() const
{
    if (m_options.helperExecutable.isEmpty() || !QFileInfo(m_options.helperExecutable).isExecutable())
        return HelperRegistrationStatus::notFound;
    if (mode() == Mode::selfStart)
        return HelperRegistrationStatus::enabled;
    if (!QFileInfo::exists(unitFilePath()))
        return HelperRegistrationStatus::notRegistered;
    const QFileInfo wanted(m_options.unitDirectory + QStringLiteral("/default.target.wants/") + unitName);
    return wanted.exists() || wanted.isSymLink() ? HelperRegistrationStatus::enabled
                                                 : HelperRegistrationStatus::requiresApproval;
}

QString HelperRegistration::unitFilePath() const
{
    return m_options.unitDirectory + QLatin1Char('/') + unitName;
}

QString HelperRegistration::unitFileText() const
{
    return QStringLiteral("[Unit]\n"
                          "Description=Tarnwick helper: starts and stops the Mihomo kernel\n"
                          "\n"
                          "[Service]\n"
                          "ExecStart=%1 --socket %2\n"
                          "Restart=on-failure\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=default.target\n")
        .arg(unitQuoted(m_options.helperExecutable), unitQuoted(m_options.socketPath));
}

QCoro::Task<> HelperRegistration::registerService()
{
    const Options options = m_options;
    if (options.helperExecutable.isEmpty())
        throw HelperRegistrationError(QStringLiteral("The helper executable was not found"));
    if (mode() == Mode::systemdUser) {
        writeUnitFile();
        co_await runSystemctl(options, userCommand(QStringLiteral("daemon-reload")));
        co_await runSystemctl(options, userCommand(QStringLiteral("enable"), unitName));
        co_await runSystemctl(options, userCommand(QStringLiteral("restart"), unitName));
    } else {
        co_await stopListeningHelper(options);
        if (!launch(options))
            throw HelperRegistrationError(QStringLiteral("Cannot start the helper ") +
                                          options.helperExecutable);
    }
    co_await waitUntil(options, true);
}

QCoro::Task<> HelperRegistration::unregisterService()
{
    const Options options = m_options;
    if (mode() == Mode::selfStart) {
        co_await stopListeningHelper(options);
        co_return;
    }
    const QString unitFile = unitFilePath();
    if (QFileInfo::exists(unitFile)) {
        QStringList arguments = userCommand(QStringLiteral("disable"), unitName);
        arguments.insert(2, QStringLiteral("--now"));
        co_await runSystemctl(options, arguments);
        if (!QFile::remove(unitFile))
            throw HelperRegistrationError(QStringLiteral("Cannot remove ") + unitFile);
    }
    co_await runSystemctl(options, userCommand(QStringLiteral("daemon-reload")));
}

bool HelperRegistration::launchHelper() const
{
    return launch(m_options);
}

bool HelperRegistration::isListening() const
{
    return listeningOn(m_options.socketPath);
}

std::optional<qint64> HelperRegistration::listeningHelperPid() const
{
    return listeningPid(m_options.socketPath);
}

QCoro::Task<> HelperRegistration::runSystemctl(Options options, QStringList arguments)
{
    const QString commandLine = options.systemctl + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    auto coroutine = qCoro(process);
    if (!co_await coroutine.start(options.systemctl, arguments, QIODevice::ReadOnly, options.bound))
        throw HelperRegistrationError(
            QStringLiteral("Cannot run %1: %2").arg(commandLine, process.errorString()));
    if (!co_await coroutine.waitForFinished(options.bound)) {
        process.kill();
        process.waitForFinished(1000);
        throw HelperRegistrationError(
            QStringLiteral("%1 did not finish within %2 ms").arg(commandLine).arg(options.bound.count()));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw HelperRegistrationError(QStringLiteral("%1 failed with status %2: %3")
                                          .arg(commandLine)
                                          .arg(process.exitCode())
                                          .arg(QString::fromUtf8(process.readAll().trimmed())));
}

QCoro::Task<> HelperRegistration::waitUntil(Options options, bool listening)
{
    const QDeadlineTimer deadline(options.bound);
    while (listeningOn(options.socketPath) != listening) {
        if (deadline.hasExpired())
            throw HelperRegistrationError(
                (listening ? QStringLiteral("The helper did not start listening on %1 within %2 ms")
                           : QStringLiteral("The helper on %1 did not stop within %2 ms"))
                    .arg(options.socketPath)
                    .arg(options.bound.count()));
        co_await QCoro::sleepFor(kPollInterval);
    }
}

QCoro::Task<> HelperRegistration::stopListeningHelper(Options options)
{
    if (!listeningOn(options.socketPath))
        co_return;
    const std::optional<qint64> pid = listeningPid(options.socketPath);
    if (!pid)
        throw HelperRegistrationError(
            QStringLiteral("The process listening on %1 does not belong to this user")
                .arg(options.socketPath));
    qCInfo(lcHelper, "Stopping the helper listening on %s (PID: %lld)", qUtf8Printable(options.socketPath),
           static_cast<long long>(*pid));
    if (::kill(static_cast<pid_t>(*pid), SIGTERM) != 0 && errno != ESRCH)
        throw HelperRegistrationError(QStringLiteral("Cannot stop the helper (PID %1): %2")
                                          .arg(*pid)
                                          .arg(QString::fromLocal8Bit(std::strerror(errno))));
    co_await waitUntil(options, false);
}

void HelperRegistration::writeUnitFile() const
{
    if (!QDir().mkpath(m_options.unitDirectory))
        throw HelperRegistrationError(QStringLiteral("Cannot create ") + m_options.unitDirectory);
    QSaveFile file(unitFilePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(unitFileText().toUtf8()) < 0 || !file.commit())
        throw HelperRegistrationError(
            QStringLiteral("Cannot write %1: %2").arg(unitFilePath(), file.errorString()));
}

} // namespace tarnwick
