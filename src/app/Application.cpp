#include "Application.h"

#include "AppState.h"
#include "HelperClient.h"
#include "config/ClashPaths.h"
#include "platform/Logging.h"
#include "platform/Settings.h"
#include "platform/SignalWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QPointer>
#include <csignal>

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

} // namespace

int runApplication(int argc, char** argv)
{
    installLogFormat();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tarnwick drives the Mihomo proxy kernel."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without a window system.")});
    parser.addOption({QStringLiteral("workspace"),
                      QStringLiteral("Use DIR as the workspace root (also $TARNWICK_WORKSPACE)."),
                      QStringLiteral("DIR")});
    parser.process(app);

    // A workspace of its own gets settings of its own, so that it never changes the default workspace's
    // (its active profile above all); $TARNWICK_SETTINGS still decides where they are when set.
    const ClashPaths paths(parser.value(QStringLiteral("workspace")));
    const bool ownWorkspace =
        parser.isSet(QStringLiteral("workspace")) || qEnvironmentVariableIsSet("TARNWICK_WORKSPACE");
    Settings settings(ownWorkspace && !qEnvironmentVariableIsSet("TARNWICK_SETTINGS")
                          ? paths.applicationSupportDirectory() + QStringLiteral("settings.ini")
                          : Settings::defaultFilePath());
    HelperClient helper;
    HeadlessAlertPresenter alerts;

    AppEnvironment environment;
    environment.settings = &settings;
    environment.paths = paths;
    environment.helper = &helper;
    environment.alertPresenter = &alerts;
    environment.openFile = [](const QString& path) {
        qCInfo(lcAppState, "Edit the configuration at %s", qUtf8Printable(path));
    };
    environment.openKernelDownload = [] {
        qCWarning(lcAppState, "No kernel is installed: install one into the workspace's core/ directory "
                              "(make run does this) and restart Tarnwick");
    };

    AppState state(environment);
    // Without windows there is nothing to show on first launch: onboarding completes by itself, with the
    // seeded profile as the active one, so that a fresh installation runs the kernel.
    QPointer<AppState> statePointer(&state);
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

    bool shuttingDown = false;
    const SignalWatcher signalWatcher({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&signalWatcher, &SignalWatcher::received, &app, [&](int) {
        if (shuttingDown) {
            QCoreApplication::exit(1);
            return;
        }
        shuttingDown = true;
        qCInfo(lcAppState, "Shutting down");
        shutdownAndQuit(statePointer);
    });

    state.launch();
    return QCoreApplication::exec();
}

} // namespace tarnwick
