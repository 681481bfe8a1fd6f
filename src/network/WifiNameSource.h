#pragma once

#include <QString>
#include <optional>

namespace tarnwick {

// Where the name of the Wi-Fi network the machine is joined to comes from.
class WifiNameSource
{
public:
    virtual ~WifiNameSource() = default;
    // The current network's name; nothing when not on Wi-Fi or when it cannot be read. Blocks briefly
    // (asks NetworkManager or runs a tool); called on the monitor's own thread.
    virtual std::optional<QString> currentSSID() = 0;
};

// NetworkManager's view (over D-Bus) where it runs, else the wireless tools' `iwgetid -r`.
class LinuxWifiNameSource final : public WifiNameSource
{
public:
    std::optional<QString> currentSSID() override;

    // What `iwgetid -r` printed: the name on its first line, or nothing.
    static std::optional<QString> parseIwgetid(const QByteArray& output);
};

} // namespace tarnwick
