#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarnwick {

// The network-setup command lines the application sends through the helper, in their networksetup form,
// and their exact shapes: the application builds them here, the helper accepts only what parse() reads.
namespace NetworkSetupCommand {

inline const QString executable = QStringLiteral("/usr/sbin/networksetup");
// The proxy's host: the kernel listens on the loopback interface.
inline const QString proxyHost = QStringLiteral("127.0.0.1");
// -setdnsservers with this word returns a service to its automatic DNS servers.
inline const QString emptyDNS = QStringLiteral("Empty");

enum class Protocol
{
    web,
    secureWeb,
    socks,
};

QStringList setProxy(Protocol protocol, const QString& service, int port);
QStringList setProxyOff(Protocol protocol, const QString& service);
QStringList setBypassDomains(const QString& service, const QStringList& domains);
// No servers: emptyDNS.
QStringList setDNSServers(const QString& service, const QStringList& servers);

struct Command
{
    enum class Kind
    {
        setProxy,
        setProxyOff,
        setBypassDomains,
        setDNSServers,
    };
    Kind kind;
    Protocol protocol = Protocol::web; // setProxy, setProxyOff
    QString service;
    int port = 0;       // setProxy
    QStringList values; // the bypass domains, or the DNS servers (empty: automatic)
};

// The command a line stands for, or nothing when it is not exactly one of the shapes above: the program,
// the option, a service name without control characters, the host 127.0.0.1, a port of 1 to 65535 in
// plain decimal, bypass domains made of host-name characters, DNS servers that are IP addresses.
std::optional<Command> parse(const QString& program, const QStringList& arguments);

} // namespace NetworkSetupCommand
} // namespace tarnwick
