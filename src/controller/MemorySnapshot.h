#pragma once

#include <QJsonObject>
#include <optional>

namespace tarnwick {

// The kernel's memory in use and its limit, in bytes.
struct MemorySnapshot
{
    qint64 inUse = 0;
    qint64 osLimit = 0;

    static std::optional<MemorySnapshot> fromJson(const QJsonObject& object);

    bool operator==(const MemorySnapshot&) const = default;
};

} // namespace tarnwick
