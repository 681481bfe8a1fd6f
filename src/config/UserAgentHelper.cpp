#include "UserAgentHelper.h"

#include "platform/Settings.h"

namespace tarnwick::UserAgentHelper {

QString activeUA(const Settings& settings)
{
    const QString configured = settings.text(QStringLiteral("globalUA")).value_or(QString()).trimmed();
    return configured.isEmpty() ? defaultUA : configured;
}

} // namespace tarnwick::UserAgentHelper
