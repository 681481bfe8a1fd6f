#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick {

// The system commands the helper runs on request, matched exactly: the network-setup command lines of
// NetworkSetupCommand in their exact shapes.
namespace CommandAllowList {

bool allows(const QString& command, const QStringList& arguments);

} // namespace CommandAllowList
} // namespace tarnwick
