#pragma once

#include <QJsonValue>
#include <QString>
#include <optional>

namespace tarnwick {

// One outbound as seen inside a group or a provider.
struct ProxyNode
{
    QString name;
    // The kernel's protocol name (Shadowsocks, Direct, Reject …).
    std::optional<QString> type;
    // Milliseconds of the last latency test; 0 means that test failed.
    std::optional<qint64> delay;
    bool udp = false;
    bool xudp = false;

    // "Trojan / udp": the type (or "Proxy"), then "xudp" or "udp" when the node relays UDP.
    QString detailLabel() const;
    // The kernel's built-in policies, for which group test results are not recorded.
    bool isBuiltinPolicy() const;

    // From a node's description in "/proxies" or in a provider; a missing description (not an object)
    // gives a node with nothing but its name.
    static ProxyNode fromJson(const QString& name, const QJsonValue& description);

    bool operator==(const ProxyNode&) const = default;
};

} // namespace tarnwick
