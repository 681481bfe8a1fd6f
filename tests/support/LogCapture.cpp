#include "LogCapture.h"

#include <QLoggingCategory>
#include <algorithm>

namespace tarnwick::test {

namespace {
QtMessageHandler previous = nullptr;
QStringList captured;

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    captured.append(message);
    previous(type, context, message);
}
} // namespace

LogCapture::LogCapture(const QString& filterRules)
{
    if (!filterRules.isEmpty())
        QLoggingCategory::setFilterRules(filterRules);
    captured.clear();
    previous = qInstallMessageHandler(&handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    captured.clear();
}

const QStringList& LogCapture::lines() const
{
    return captured;
}

bool LogCapture::contains(const QString& text) const
{
    return std::any_of(captured.cbegin(), captured.cend(),
                       [&](const QString& line) { return line.contains(text); });
}

} // namespace tarnwick::test
