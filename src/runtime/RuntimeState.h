#pragma once

#include "RuntimeError.h"

#include <QString>
#include <optional>

namespace tarnwick {

// Where the kernel installation stands, for the kernel pages and the download window.
struct RuntimeState
{
    enum class Kind
    {
        checking,
        downloading,
        installing,
        validating,
        switching,
        ready,
        missing,
        failed,
    };

    Kind kind = Kind::missing;
    double progress = 0;               // downloading
    QString version;                   // ready; "Installed" when only the link is known
    std::optional<RuntimeError> error; // failed

    static RuntimeState of(Kind kind) { return {kind, 0, {}, std::nullopt}; }
    static RuntimeState downloading(double progress)
    {
        return {Kind::downloading, progress, {}, std::nullopt};
    }
    static RuntimeState ready(const QString& version) { return {Kind::ready, 0, version, std::nullopt}; }
    static RuntimeState failed(const RuntimeError& error) { return {Kind::failed, 0, {}, error}; }

    bool operator==(const RuntimeState& other) const = default;
};

} // namespace tarnwick
