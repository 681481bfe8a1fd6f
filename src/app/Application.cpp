#include "Application.h"

#include "AppCommandHandler.h"
#include "AppSocketListener.h"
#include "AppState.h"
#include "HelperClient.h"
#include "InstanceLock.h"
#include "RunningInstance.h"
#include "config/ClashPaths.h"
#include "platform/Logging.h"
#include "platform/Settings.h"
#include "platform/SignalWatcher.h"
#include "runtime/RuntimeManager.h"
#include "update/AppBundle.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <csignal>
#include <cstdio>

namespace tarnwick {

namespace {

// Stops the kernel and saves the modes, then ends the event loop; a second signal ends it at once.
QCoro::Task<> shutdownAndQuit(QPointer<AppState> state)
{
    try {
        if (state)
            co_await state->shutdown();
    } catch (const std::exception& error) {
        qCCritical(lcAppState, "Shutdown failed: %s", qUtf8Printable(describe(error)));
    }
    QCoreApplication::quit();
}

// A manual check, then the update when the check offers one.
QCoro::Task<> updateWhenAvailable(QPointer<AppUpdateFlow> flow)
{
    try {
        co_await flow->check(false);
        if (!flow)
            co_return;
        const AppUpdatePhase phase = flow->phase();
        if (phase.kind == AppUpdatePhase::Kind::failed) {
            qCWarning(lcAppState, "Application update check failed: %s", qUtf8Printable(phase.text));
            co_return;
        }
        if (!phase.result || phase.result->kind != AppUpdateResult::Kind::available) {
            qCInfo(lcAppState, "Tarnwick is up to date");
            co_return;
        }
        qCInfo(lcAppState, "Updating Tarnwick %s to %s", qUtf8Printable(phase.result->currentVersion),
               qUtf8Printable(phase.result->latest));
        co_await flow->performUpdate(phase.result->downloadURL);
        if (flow && flow->phase().kind == AppUpdatePhase::Kind::failed)
            qCWarning(lcAppState, "Application update failed: %s", qUtf8Printable(flow->phase().text));
    } catch (const std::exception& error) {
        qCCritical(lcAppState, "Application update failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> installKernelTask(RuntimeManager* manager, QString archive, QString version, bool* done)
{
    co_await manager->installArchive(archive, version);
    *done = true;
}

// The same installation as a downloaded kernel's (unpack, verify, switch, prune), for a kernel at hand.
int installKernel(const ClashPaths& paths, Settings& settings, const QString& archive, const QString& version)
{
    QNetworkAccessManager network;
    RuntimeManager manager(paths, settings, GitHubReleaseService(&network, settings),
                           RuntimeDownloader(&network));
    bool done = false;
    installKernelTask(&manager, archive, version, &done);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (manager.state().kind != RuntimeState::Kind::ready) {
        std::fprintf(stderr, "%s\n",
                     qUtf8Printable(manager.state().error ? manager.state().error->description()
                                                          : QStringLiteral("Installation failed")));
        return 1;
    }
    std::printf("Installed kernel %s in %s\n", qUtf8Printable(version),
                qUtf8Printable(paths.coreDirectory()));
    return 0;
}

// Whether this run needs a window system: not for --headless, nor for options that print and exit, nor
// when there is no display to connect to.
bool wantsDesktop(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        for (const char* option : {"headless", "help", "help-all", "version", "install-kernel", "h", "v"}) {
            if (argument == QByteArray("--") + option || argument == QByteArray("-") + option ||
                argument.startsWith(QByteArray("--") + option + "="))
                return false;
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qCWarning(lcAppState, "No display: running without windows (as with --headless)");
        return false;
    }
    return true;
}

} // namespace

int runApplication(int argc, char** argv, const DesktopHooks& desktop)
{
    installLogFormat();
    const bool withDesktop = desktop.createApplication && wantsDesktop(argc, argv);
    const std::unique_ptr<QCoreApplication> application =
        withDesktop ? desktop.createApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(AppBundle::running().shortVersion());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tarnwick drives the Mihomo proxy kernel."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without a window system.")});
    parser.addOption({QStringLiteral("window"), QStringLiteral("Open the main window at launch.")});
    parser.addOption({QStringLiteral("workspace"),
                      QStringLiteral("Use DIR as the workspace root (also $TARNWICK_WORKSPACE)."),
                      QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("update"),
         QStringLiteral("Once booted, check for an application update and install it when there is "
                        "one (without a window system there is no update window to ask).")});
    parser.addOption(
        {QStringLiteral("install-kernel"),
         QStringLiteral("Install the gzipped kernel ARCHIVE into the workspace, make it the active "
                        "kernel and exit (needs --kernel-version)."),
         QStringLiteral("ARCHIVE")});
    parser.addOption({QStringLiteral("kernel-version"),
                      QStringLiteral("The version directory --install-kernel installs into."),
                      QStringLiteral("VERSION")});
    parser.process(app);

    // A workspace of its own gets settings of its own, so that it never changes the default workspace's
    // (its active profile above all); $TARNWICK_SETTINGS still decides where they are when set.
    const ClashPaths paths(parser.value(QStringLiteral("workspace")));
    const bool ownWorkspace =
        parser.isSet(QStringLiteral("workspace")) || qEnvironmentVariableIsSet("TARNWICK_WORKSPACE");
    Settings settings(ownWorkspace && !qEnvironmentVariableIsSet("TARNWICK_SETTINGS")
                          ? paths.applicationSupportDirectory() + QStringLiteral("settings.ini")
                          : Settings::defaultFilePath());
    if (parser.isSet(QStringLiteral("install-kernel")))
        return installKernel(paths, settings, parser.value(QStringLiteral("install-kernel")),
                             parser.value(QStringLiteral("kernel-version")));
    // A second application on the same workspace would fight the first over the kernel and its ports.
    InstanceLock instanceLock(paths.applicationSupportDirectory());
    if (const std::optional<qint64> running = instanceLock.acquire()) {
        // Launching it again from the desktop means "show me Tarnwick": the running one shows its window.
        if (withDesktop)
            RunningInstance::showWindow(AppSocketListener::defaultSocketPath(), *running,
                                        std::chrono::seconds(3));
        std::fprintf(stderr, "Tarnwick is already running (PID %lld)\n", static_cast<long long>(*running));
        return 1;
    }
    qCInfo(lcAppState, "Tarnwick %s starting (PID: %lld)",
           qUtf8Printable(QCoreApplication::applicationVersion()), QCoreApplication::applicationPid());

    HelperClient helper;
    HeadlessAlertPresenter headlessAlerts;
    const std::unique_ptr<Frontend> frontend = withDesktop ? desktop.createFrontend() : nullptr;

    AppEnvironment environment;
    environment.settings = &settings;
    environment.paths = paths;
    environment.helper = &helper;
    environment.alertPresenter = frontend ? &frontend->alertPresenter() : &headlessAlerts;
    environment.openFile = [](const QString& path) {
        qCInfo(lcAppState, "Edit the configuration at %s", qUtf8Printable(path));
    };
    environment.openKernelDownload = [] {
        qCWarning(lcAppState, "No kernel is installed: install one into the workspace's core/ directory "
                              "(make run does this) and restart Tarnwick");
    };
    if (frontend)
        frontend->prepare(environment);

    AppState state(environment);
    // Without windows there is nothing to show on first launch: onboarding completes by itself, with the
    // seeded profile as the active one, so that a fresh installation runs the kernel.
    QPointer<AppState> statePointer(&state);
    if (!frontend)
        state.setOnboardingOpener([statePointer] {
            if (!statePointer)
                return;
            qCInfo(lcAppState, "First launch: no onboarding window without a window system; completing it");
            if (!statePointer->activeProfileName())
                statePointer->setActiveProfileName(QStringLiteral("Default"));
            statePointer->completeOnboardingInBackground();
        });
    qCInfo(lcAppState, "Workspace %s, settings %s",
           qUtf8Printable(state.paths().applicationSupportDirectory()), qUtf8Printable(settings.filePath()));

    // The control socket the `tarnwick` tool talks to; it closes first when the application ends.
    const AppCommandHandler commandHandler(&state);
    AppSocketListener listener;
    listener.start(
        [&commandHandler](AppCommand command) { return commandHandler.handle(std::move(command)); });

    bool shuttingDown = false;
    const auto quit = [&] {
        if (shuttingDown) {
            QCoreApplication::exit(1);
            return;
        }
        shuttingDown = true;
        qCInfo(lcAppState, "Shutting down");
        listener.stop();
        shutdownAndQuit(statePointer);
    };
    const SignalWatcher signalWatcher({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&signalWatcher, &SignalWatcher::received, &app, quit);
    if (frontend) {
        frontend->attach(state, quit);
        if (parser.isSet(QStringLiteral("window")))
            frontend->showWindow();
    }

    if (parser.isSet(QStringLiteral("update"))) {
        QObject::connect(&state, &AppState::bootStateChanged, &state,
                         [statePointer, started = false]() mutable {
                             if (started || !statePointer || statePointer->bootState() != AppBootState::ready)
                                 return;
                             started = true;
                             updateWhenAvailable(&statePointer->updateFlow());
                         });
    }
    state.launch();
    const int status = QCoreApplication::exec();
    if (frontend)
        frontend->detach();
    return status;
}

} // namespace tarnwick
