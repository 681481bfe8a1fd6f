#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>

namespace tarnwick {

// The desktop and network tools the helper runs for the network-setup commands: fixed argument lists,
// never a shell, a bounded wait.
namespace ToolProcess {

struct Result
{
    bool finished = false; // started, and exited normally within the bound
    int exitCode = -1;
    QByteArray output; // standard output
    QByteArray errors; // standard error, trimmed

    bool succeeded() const { return finished && exitCode == 0; }
};

Result run(const QString& program, const QStringList& arguments,
           std::chrono::milliseconds bound = std::chrono::seconds(5));

// Runs the tool and throws HelperError naming it and its message unless it succeeded.
QByteArray check(const QString& program, const QStringList& arguments);

} // namespace ToolProcess
} // namespace tarnwick
