#pragma once

#include <QStringView>
#include <optional>

namespace tarnwick {

// A subscription's traffic quota, from its "subscription-userinfo" header. Bytes, except `expire`:
// seconds since 1970-01-01 UTC. A field the header does not give is 0.
struct SubscriptionInfo
{
    qint64 upload = 0;
    qint64 download = 0;
    qint64 total = 0;
    qint64 expire = 0;

    bool operator==(const SubscriptionInfo&) const = default;

    // Parses "upload=10; download=20; total=100; expire=0": keys case-insensitive, blanks ignored, parts
    // that are not key=integer skipped. A header naming none of the four keys gives no record, so that a
    // garbled header never replaces a good one with zeros.
    static std::optional<SubscriptionInfo> fromHeader(QStringView header);
};

} // namespace tarnwick
