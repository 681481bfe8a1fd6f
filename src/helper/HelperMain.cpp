#include "HelperMain.h"

#include "HelperError.h"
#include "HelperServer.h"
#include "HelperService.h"
#include "KernelLauncher.h"
#include "NetworkPrivileges.h"
#include "platform/HelperSocketPath.h"
#include "platform/Logging.h"
#include "platform/SignalWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <unistd.h>

namespace tarnwick {

namespace {

using namespace std::chrono_literals;

// Below the application's 8 s stop time-out, leaving room for SIGKILL and the reply.
constexpr auto kStopGrace = 5s;

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
    parser.addOption(socketOption);
    parser.addOption(allowUidOption);
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
