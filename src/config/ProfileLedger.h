#pragma once

#include "ProfileNode.h"
#include "platform/Error.h"

#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// The profile manifest could not be decoded.
class ProfileLedgerError final : public Error
{
public:
    using Error::Error;
};

// The metadata of every profile, in profiles/manifest.json, reconciled with the files actually present.
// Every method may throw FileError, NativeValueError or ProfileLedgerError.
class ProfileLedger final
{
public:
    explicit ProfileLedger(QString profilesDirectory);

    QString manifestPath() const;

    // The manifest's nodes whose file exists, in manifest order, then a local node for every profile file
    // that no node names. A reconciled list that differs from the manifest is saved, so that the ids given
    // to hand-copied files stay the same from one call to the next.
    QList<ProfileNode> getNodes() const;
    std::optional<ProfileNode> node(const QString& id) const;
    std::optional<ProfileNode> nodeByFileName(const QString& fileName) const;

    // Replaces the manifest atomically.
    void save(const QList<ProfileNode>& nodes) const;
    // Replaces the node with the same id (or, failing that, the same file), or appends it.
    void upsert(const ProfileNode& node) const;
    void remove(const QString& id) const;

    // The ".yaml" and ".yml" files of the profiles directory, sorted by name; FileError when the directory
    // cannot be read.
    QStringList profileFiles() const;

private:
    QList<ProfileNode> readManifest() const;

    QString m_directory;
};

} // namespace tarnwick
