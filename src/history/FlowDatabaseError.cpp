#include "FlowDatabaseError.h"

namespace tarnwick {

namespace {

QString describeCase(FlowDatabaseError::Case which, const QString& message)
{
    switch (which) {
    case FlowDatabaseError::Case::openFailed:
        return QStringLiteral("FlowDatabase open failed: ") + message;
    case FlowDatabaseError::Case::prepareFailed:
        return QStringLiteral("FlowDatabase prepare failed: ") + message;
    }
    return message;
}

} // namespace

FlowDatabaseError::FlowDatabaseError(Case which, const QString& message)
    : Error(describeCase(which, message)), m_case(which), m_message(message)
{}

} // namespace tarnwick
