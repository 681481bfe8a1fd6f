#include "Application.h"

#include "config/ClashPaths.h"
#include "platform/Logging.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace tarnwick {

int runApplication(int argc, char** argv)
{
    installLogFormat();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without a window system.")});
    parser.addOption({QStringLiteral("workspace"), QStringLiteral("Use DIR as the workspace root."),
                      QStringLiteral("DIR")});
    parser.process(app);

    const ClashPaths paths(parser.value(QStringLiteral("workspace")));
    qCInfo(lcAppState, "Workspace %s", qUtf8Printable(paths.applicationSupportDirectory()));
    return 0;
}

} // namespace tarnwick
