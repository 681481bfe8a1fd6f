#include "HelperMain.h"

#include "HelperError.h"
#include "HelperServer.h"
#include "HelperService.h"
#include "KernelLauncher.h"
#include "NetworkPrivileges.h"
#include "NetworkSetupBackend.h"
#include "PrivilegedService.h"
#include "UserAccount.h"
#include "platform/HelperRegistration.h"
#include "platform/HelperSocketPath.h"
#include "platform/Logging.h"
#include "platform/SignalWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <qcoro/qcorotask.h>
#include <unistd.h>

namespace tarnwick {

namespace {

using namespace std::chrono_literals;

// Below the application's 8 s stop time-out, leaving room for SIGKILL and the reply.
constexpr auto kStopGrace = 5s;

// --install / --uninstall: the user unit that runs this executable on the socket path; without a user
// manager, --uninstall still stops the helper the application started.
int manageUnit(const QString& socketPath, bool install)
{
    HelperRegistration::Options options = HelperRegistration::defaultOptions();
    options.socketPath = socketPath;
    options.helperExecutable = QCoreApplication::applicationFilePath();
    HelperRegistration registration(options);
    const bool systemd = registration.mode() == HelperRegistration::Mode::systemdUser;
    if (install && !systemd) {
        std::fprintf(stderr, "No systemd user manager answers here; Tarnwick starts its helper by itself "
                             "when it needs one.\n");
        return 1;
    }
    try {
        if (install)
            QCoro::waitFor(registration.registerService());
        else
            QCoro::waitFor(registration.unregisterService());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(describe(error)));
        return 1;
    }
    if (install)
        std::printf("Installed %s: the helper runs now and with every session (%s).\n",
                    qUtf8Printable(registration.unitFilePath()), qUtf8Printable(socketPath));
    else if (systemd)
        std::printf("Removed %s; the helper is stopped.\n", qUtf8Printable(HelperRegistration::unitName));
    else
        std::printf("Stopped the helper listening on %s.\n", qUtf8Printable(socketPath));
    return 0;
}

} // namespace

int runHelper(int argc, char** argv)
{
    // The helper outlives whoever started it: a descriptor it inherited (a lock held by a shell, a pipe
    // of a test runner) would stay open as long, so everything beyond the standard three is closed first.
    ::close_range(3, ~0U, 0);
    installLogFormat();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-helper"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Starts and stops the Mihomo kernel for Tarnwick."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("Listen on PATH (default: $TARNWICK_HELPER_SOCKET, else the runtime directory)."),
        QStringLiteral("PATH"));
    const QCommandLineOption allowUidOption(
        QStringLiteral("allow-uid"), QStringLiteral("Serve the user N (default: the helper's own user)."),
        QStringLiteral("N"));
    const QCommandLineOption privilegedOption(
        QStringLiteral("privileged"),
        QStringLiteral(
            "Run as the system service of the privileged mode: only start and stop the kernels of the "
            "user given with --allow-uid, as that user with network administration (for TUN mode)."));
    const QCommandLineOption installOption(
        QStringLiteral("install"),
        QStringLiteral("Install this helper as the systemd user unit %1, enable and start it, then exit.")
            .arg(HelperRegistration::unitName));
    const QCommandLineOption uninstallOption(
        QStringLiteral("uninstall"), QStringLiteral("Stop, disable and remove the user unit, then exit."));
    const QCommandLineOption installPrivilegedOption(
        QStringLiteral("install-privileged"),
        QStringLiteral("Install and start the privileged mode's system service for the calling user (run it "
                       "with pkexec or sudo)."));
    const QCommandLineOption uninstallPrivilegedOption(
        QStringLiteral("uninstall-privileged"),
        QStringLiteral("Stop and remove the privileged mode's system service of the calling user."));
    parser.addOption(socketOption);
    parser.addOption(allowUidOption);
    parser.addOption(privilegedOption);
    parser.addOption(installOption);
    parser.addOption(uninstallOption);
    parser.addOption(installPrivilegedOption);
    parser.addOption(uninstallPrivilegedOption);
    parser.process(app);

    uid_t allowedUid = ::geteuid();
    if (parser.isSet(allowUidOption)) {
        bool ok = false;
        allowedUid = parser.value(allowUidOption).toUInt(&ok);
        if (!ok) {
            qCCritical(lcHelper, "Invalid --allow-uid value \"%s\"",
                       qUtf8Printable(parser.value(allowUidOption)));
            return 1;
        }
    }
    if (parser.isSet(installPrivilegedOption) || parser.isSet(uninstallPrivilegedOption)) {
        const std::optional<uid_t> user = parser.isSet(allowUidOption) ? std::optional<uid_t>(allowedUid)
                                                                       : PrivilegedService::invokingUser();
        if (::geteuid() != 0 || !user) {
            std::fprintf(stderr,
                         "The privileged mode is installed and removed with administrator rights: run "
                         "\"pkexec tarnwick-helper --install-privileged\" (or sudo).\n");
            return 1;
        }
        PrivilegedService::Options options;
        options.helperExecutable = QCoreApplication::applicationFilePath();
        options.say = [](const QString& line) { std::printf("%s\n", qUtf8Printable(line)); };
        return parser.isSet(installPrivilegedOption) ? PrivilegedService::install(*user, options)
                                                     : PrivilegedService::uninstall(*user, options);
    }

    if (parser.isSet(installOption) || parser.isSet(uninstallOption))
        return manageUnit(parser.isSet(socketOption) ? parser.value(socketOption)
                                                     : HelperSocketPath::defaultPath(),
                          parser.isSet(installOption));

    const bool privileged = parser.isSet(privilegedOption);
    // A helper serving another user runs that user's kernels as that user, never with its own rights; the
    // privileged mode's kernels keep network administration and nothing else, whoever they run as.
    std::optional<UserAccount> runAs;
    if (allowedUid != ::geteuid() || privileged) {
        runAs = UserAccount::lookup(allowedUid);
        if (!runAs) {
            qCCritical(lcHelper, "No user with uid %u", allowedUid);
            return 1;
        }
    }
    if (privileged && (::geteuid() != 0 || !parser.isSet(allowUidOption))) {
        qCCritical(lcHelper, "The privileged mode runs as root and needs --allow-uid of an existing user");
        return 1;
    }
    const QString socketPath = parser.isSet(socketOption) ? parser.value(socketOption)
                               : privileged               ? HelperSocketPath::privilegedPath(allowedUid)
                                                          : HelperSocketPath::defaultPath();

    // TUN, routes and DNS are not the kernel's to change from here; the privileged mode gives them to the
    // kernel on purpose, and nothing else.
    if (!privileged)
        NetworkPrivileges::withholdFromChildren();

    const SignalWatcher signalWatcher({SIGCHLD, SIGTERM, SIGINT});
    KernelLauncher launcher(kStopGrace);
    if (runAs)
        launcher.runAs(*runAs, privileged);
    HelperService service(&launcher, allowedUid);
    service.setPrivileged(privileged);
    HelperServer server(socketPath, runAs, &service);
    try {
        server.listen();
    } catch (const HelperError& error) {
        qCCritical(lcHelper, "%s", qUtf8Printable(error.description()));
        return 1;
    }
    // Beside the socket, in the directory no one else may enter; found again by the next helper. The
    // privileged mode has no business with the user's desktop.
    std::unique_ptr<NetworkSetupBackend> network;
    if (!privileged) {
        network = NetworkSetupBackend::forThisSession(QFileInfo(socketPath).path() +
                                                      QStringLiteral("/network-restore.json"));
        service.setNetworkBackend(network.get());
    }
    QObject::connect(&signalWatcher, &SignalWatcher::received, &app, [&launcher](int signalNumber) {
        if (signalNumber == SIGCHLD) {
            launcher.reap();
            return;
        }
        qCInfo(lcHelper, "Stopping on signal %d", signalNumber);
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

} // namespace tarnwick
