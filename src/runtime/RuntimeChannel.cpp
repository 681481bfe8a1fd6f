#include "RuntimeChannel.h"

namespace tarnwick {

QString rawValue(RuntimeChannel channel)
{
    switch (channel) {
    case RuntimeChannel::stable:
        return QStringLiteral("stable");
    case RuntimeChannel::alpha:
        return QStringLiteral("alpha");
    case RuntimeChannel::smart:
        return QStringLiteral("smart");
    }
    return {};
}

std::optional<RuntimeChannel> runtimeChannelFromRawValue(const QString& raw)
{
    for (const RuntimeChannel channel : allRuntimeChannels) {
        if (rawValue(channel) == raw)
            return channel;
    }
    return std::nullopt;
}

} // namespace tarnwick
