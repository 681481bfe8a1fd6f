#include "AppTestSetup.h"

#include "TestSupport.h"
#include "platform/Settings.h"

namespace tarnwick::test {

void prepareAppSettings(Settings& settings, const QString& unreachable)
{
    for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
        settings.setText(QString::fromLatin1(key), unreachable + QStringLiteral("/missing"));
    settings.setText(QStringLiteral("releases.apiBaseURL"), unreachable);
    settings.setInteger(QStringLiteral("apiPort"), freePort());
    settings.setInteger(QStringLiteral("mixedPort"), freePort());
}

HelperRegistration::Options helperOptions(const QString& directory)
{
    HelperRegistration::Options options;
    options.socketPath = directory + QStringLiteral("/run/helper.sock");
    options.helperExecutable = binaryDir() + QStringLiteral("/bin/tarnwick-helper");
    options.unitDirectory = directory + QStringLiteral("/units");
    options.systemctl = QStringLiteral("/bin/false");
    return options;
}

} // namespace tarnwick::test
