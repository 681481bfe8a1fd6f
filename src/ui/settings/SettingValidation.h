#pragma once

#include <QString>
#include <functional>

namespace tarnwick {

// The checks the settings pages run as the user types: an empty text means the value is fine, anything
// else is the message shown under the control, and nothing is written while there is one. They refuse
// what the kernel would refuse, so a saved setting never stops the kernel from loading its configuration.
namespace SettingValidation {

using Validator = std::function<QString(const QString&)>;

// A port: empty or 0 closes it.
QString port(const QString& text);
// A whole number from `min` to `max`; empty reads as 0 and passes when 0 is in range.
Validator wholeNumber(qint64 min, qint64 max);
// One IP range per entry, such as 192.168.0.0/16 or fc00::/18.
QString ipRanges(const QString& text);
// One IP range, for the fake-IP pools.
QString ipRange(const QString& text);
// Ports or ranges such as 8080-8880.
QString portList(const QString& text);
// "user:password" entries.
QString credentials(const QString& text);
// DNS servers: a plain address (with an optional port) or a URL of a scheme the kernel knows.
QString nameservers(const QString& text);
// "pattern = server, server" per line.
QString nameserverPolicy(const QString& text);
// "domain = address" per line.
QString hosts(const QString& text);
// "host:port" where the kernel's DNS server listens; empty turns it off.
QString listenAddress(const QString& text);
// "*" or one IP address.
QString bindAddress(const QString& text);
// The kernel's DNS hijack entries: "any:53", "tcp://any:53", "198.18.0.2:53".
QString dnsHijack(const QString& text);
// An http or https address; empty passes when `optional`.
Validator webAddress(bool optional);
// A network interface's name; empty passes.
QString interfaceName(const QString& text);
// Trusted Wi-Fi names, one per line or comma-separated: blanks are dropped, a name twice is refused.
QString wifiNames(const QString& text);

// The check of an engine setting's key; a check that passes everything when the key needs none.
Validator forKey(const QString& key);

} // namespace SettingValidation
} // namespace tarnwick
