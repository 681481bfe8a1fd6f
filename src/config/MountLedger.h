#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace tarnwick {

// Which remote profiles are mounted into which local profile as proxy providers:
// profiles/mount_ledger.json maps a local profile's file name to the remote profiles' file names.
class MountLedger final
{
public:
    using Map = QMap<QString, QStringList>;

    explicit MountLedger(QString profilesDirectory);

    QString path() const;

    // A missing file is an empty map. Throws FileError or NativeValueError.
    Map get() const;
    // Entries with no remote profile are not stored. Replaces the file atomically; throws FileError.
    void save(const Map& map) const;

    QStringList mountedSubscriptions(const QString& localProfile) const;
    // Mounting appends the remote profile once; unmounting removes every occurrence.
    void toggle(const QString& localProfile, const QString& remoteProfile, bool isMounted) const;
    // Forgets a profile that is gone, as a local profile and as a mounted one.
    void forget(const QString& fileName) const;

private:
    QString m_directory;
};

} // namespace tarnwick
