#pragma once

#include <QString>

namespace tarnwick {

// What the application knows about the kernel process.
struct KernelStatus
{
    enum class Kind
    {
        stopped,
        starting,
        running,
        error
    };

    Kind kind = Kind::stopped;
    qint32 pid = 0;  // running only
    QString message; // error only

    static KernelStatus stopped() { return {}; }
    static KernelStatus starting() { return {Kind::starting, 0, {}}; }
    static KernelStatus running(qint32 pid) { return {Kind::running, pid, {}}; }
    static KernelStatus error(QString message) { return {Kind::error, 0, std::move(message)}; }

    // Whether the kernel is up, as every caller asks it.
    bool isRunningOrStarting() const { return kind == Kind::running || kind == Kind::starting; }

    bool operator==(const KernelStatus& other) const
    {
        return kind == other.kind && (kind != Kind::running || pid == other.pid) &&
               (kind != Kind::error || message == other.message);
    }
};

} // namespace tarnwick
