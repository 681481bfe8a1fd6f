#pragma once

#include <QString>
#include <array>
#include <optional>

namespace tarnwick {

// Where kernels come from. The raw values are what the settings store and the views show.
enum class RuntimeChannel
{
    stable,
    alpha,
    smart,
};

// In the order the channel picker lists them.
inline constexpr std::array<RuntimeChannel, 3> allRuntimeChannels{
    RuntimeChannel::stable, RuntimeChannel::alpha, RuntimeChannel::smart};

QString rawValue(RuntimeChannel channel);
std::optional<RuntimeChannel> runtimeChannelFromRawValue(const QString& raw);

} // namespace tarnwick
