#pragma once

#include <QString>

namespace tarnwick {

// What kind of address a connection's endpoint is, for the GeoIP resolution and the traffic map.
enum class IPCategory
{
    local,  // the machine itself
    lan,    // private, link-local or unique-local
    domain, // no address at all: a host name the kernel did not resolve, or nothing
    public_,
};

// "Local", "LAN", "Unresolved", "public".
QString rawValue(IPCategory category);

namespace IPClassifier {

IPCategory classify(const QString& address);

} // namespace IPClassifier
} // namespace tarnwick
