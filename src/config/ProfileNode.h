#pragma once

#include "config/yaml/NativeValue.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace tarnwick {

enum class ProfileType
{
    Local,
    Remote,
};

QString toString(ProfileType type);

// One profile's metadata as kept in profiles/manifest.json.
struct ProfileNode
{
    QString id; // a random UUID, assigned at import
    QString name;
    ProfileType type = ProfileType::Local;
    QString fileName; // inside profiles/, with extension
    std::optional<QString> url;
    std::optional<double> updateInterval; // seconds
    std::optional<QDateTime> lastUpdated;

    bool operator==(const ProfileNode&) const = default;

    // The manifest form: member names as above, absent optionals left out, dates as seconds since
    // 2001-01-01 00:00:00 UTC. fromNative() throws ProfileLedgerError when a member is missing or mistyped.
    NativeValue toNative() const;
    static ProfileNode fromNative(const NativeValue& value);

    static QString newId();
};

// Dates in the manifest: seconds since 2001-01-01 00:00:00 UTC, as doubles.
double toReferenceSeconds(const QDateTime& date);
QDateTime fromReferenceSeconds(double seconds);

} // namespace tarnwick
