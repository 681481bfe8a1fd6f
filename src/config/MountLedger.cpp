#include "MountLedger.h"

#include "AtomicFile.h"
#include "config/yaml/NativeValue.h"

#include <QDir>
#include <QFileInfo>

namespace tarnwick {

MountLedger::MountLedger(QString profilesDirectory) : m_directory(std::move(profilesDirectory)) {}

QString MountLedger::path() const
{
    return QDir(m_directory).filePath(QStringLiteral("mount_ledger.json"));
}

MountLedger::Map MountLedger::get() const
{
    if (!QFileInfo::exists(path()))
        return {};
    const NativeValue root = NativeValue::fromJson(AtomicFile::read(path()));
    Map map;
    for (const auto& [local, remotes] : root.toDictionary()) {
        QStringList names;
        for (const NativeValue& remote : remotes.toArray()) {
            if (remote.isString())
                names.append(remote.toString());
        }
        if (!names.isEmpty())
            map.insert(local, names);
    }
    return map;
}

void MountLedger::save(const Map& map) const
{
    NativeValue::Dictionary root;
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (!it->isEmpty())
            root.emplace(it.key(), NativeValue::Array(it->begin(), it->end()));
    }
    AtomicFile::write(path(), NativeValue(std::move(root)).toJson(NativeValue::JsonFormat::Pretty));
}

QStringList MountLedger::mountedSubscriptions(const QString& localProfile) const
{
    return get().value(localProfile);
}

void MountLedger::toggle(const QString& localProfile, const QString& remoteProfile, bool isMounted) const
{
    Map map = get();
    QStringList& remotes = map[localProfile];
    if (isMounted) {
        if (!remotes.contains(remoteProfile))
            remotes.append(remoteProfile);
    } else {
        remotes.removeAll(remoteProfile);
    }
    if (remotes.isEmpty())
        map.remove(localProfile);
    save(map);
}

void MountLedger::forget(const QString& fileName) const
{
    Map map = get();
    const Map before = map;
    map.remove(fileName);
    for (QStringList& remotes : map)
        remotes.removeAll(fileName);
    map.removeIf([](const auto& entry) { return entry.value().isEmpty(); });
    if (map != before)
        save(map);
}

} // namespace tarnwick
