#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick::test {

// Collects the log lines written while it lives (and passes them on), with the categories that
// `filterRules` turns on (QLoggingCategory's rules). One at a time.
class LogCapture final
{
public:
    explicit LogCapture(const QString& filterRules = {});
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const QStringList& lines() const;
    // How many lines are exactly `line`.
    qsizetype count(const QString& line) const { return lines().count(line); }
    // Whether a line contains `text`.
    bool contains(const QString& text) const;
};

} // namespace tarnwick::test
