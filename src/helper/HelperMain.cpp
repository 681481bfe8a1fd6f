#include "HelperMain.h"

#include "HelperError.h"
#include "HelperServer.h"
#include "HelperService.h"
#include "KernelLauncher.h"
#include "NetworkPrivileges.h"
#include "platform/HelperRegistration.h"
#include "platform/HelperSocketPath.h"
#include "platform/Logging.h"
#include "platform/SignalWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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
    const QCommandLineOption installOption(
        QStringLiteral("install"),
        QStringLiteral("Install this helper as the systemd user unit %1, enable and start it, then exit.")
            .arg(HelperRegistration::unitName));
    const QCommandLineOption uninstallOption(
        QStringLiteral("uninstall"), QStringLiteral("Stop, disable and remove the user unit, then exit."));
    parser.addOption(socketOption);
    parser.addOption(allowUidOption);
    parser.addOption(installOption);
    parser.addOption(uninstallOption);
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
    const QString socketPath =
        parser.isSet(socketOption) ? parser.value(socketOption) : HelperSocketPath::defaultPath();
    if (parser.isSet(installOption) || parser.isSet(uninstallOption))
        return manageUnit(socketPath, parser.isSet(installOption));

    // A helper serving another user runs that user's kernels as that user, never with its own rights.
    std::optional<UserAccount> runAs;
    if (allowedUid != ::geteuid()) {
        runAs = UserAccount::lookup(allowedUid);
        if (!runAs) {
            qCCritical(lcHelper, "No user with uid %u", allowedUid);
            return 1;
        }
    }

    // TUN, routes and DNS are not the kernel's to change from here.
    NetworkPrivileges::withholdFromChildren();

    const SignalWatcher signalWatcher({SIGCHLD, SIGTERM, SIGINT});
    KernelLauncher launcher(kStopGrace, runAs);
    HelperService service(&launcher, allowedUid);
    HelperServer server(socketPath, runAs, &service);
    try {
        server.listen();
    } catch (const HelperError& error) {
        qCCritical(lcHelper, "%s", qUtf8Printable(error.description()));
        return 1;
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
