#pragma once

#include "ClashPaths.h"
#include "MountLedger.h"
#include "ProfileLedger.h"
#include "SubscriptionInfo.h"
#include "platform/AsyncMutex.h"
#include "platform/Error.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>
#include <qcoro/qcorotask.h>

namespace tarnwick {

class KernelRestarter;
class ProfileDownloader;
class Settings;
class SubscriptionManager;

class ProfileStoreError final : public Error
{
public:
    enum class Kind
    {
        FileNotFound,    // 404: "Profile not found in profiles directory: <file name>"
        ProfileNotFound, // 404: no node with that id
        NotRemote,       // 400: the node has no subscription URL
    };

    static ProfileStoreError fileNotFound(const QString& fileName);
    static ProfileStoreError profileNotFound();
    static ProfileStoreError notRemote();

    Kind kind() const { return m_kind; }
    int code() const { return m_kind == Kind::NotRemote ? 400 : 404; }

private:
    ProfileStoreError(Kind kind, QString description) : Error(std::move(description)), m_kind(kind) {}
    Kind m_kind;
};

// Owns the profiles directory: lists, imports, downloads, refreshes, renames and deletes profiles, keeps
// their manifest and the mount ledger, and compiles a profile into the runtime configuration. Operations
// run one at a time, in call order, so two refreshes never race on one file; callers wait asynchronously.
// Nothing reaches the directory before a profile has compiled, and a failed operation leaves the
// directory and the ledgers as they were.
class ProfileStore final : public QObject
{
    Q_OBJECT

public:
    // `subscriptions` (optional) records the quota of every download; `supervisor` restarts the kernel when
    // a profile is activated.
    ProfileStore(ClashPaths paths, const Settings& settings, SubscriptionManager* subscriptions = nullptr,
                 KernelRestarter* supervisor = nullptr, QObject* parent = nullptr);
    ~ProfileStore() override;

    const ClashPaths& paths() const { return m_paths; }
    ProfileDownloader& downloader() { return *m_downloader; }
    QString profileURL(const QString& fileName) const;

    QCoro::Task<QStringList> listProfiles();
    QCoro::Task<QList<ProfileNode>> nodes();

    QCoro::Task<ProfileNode> importLocal(QString sourcePath);
    QCoro::Task<ProfileNode> importRemote(QString url, QString name, std::optional<double> updateInterval);
    QCoro::Task<ProfileNode> updateRemote(QString id);
    QCoro::Task<ProfileNode> updateMetadata(QString id, QString url, QString name,
                                            std::optional<double> updateInterval);
    // Returns the new file name. References to the old one (active profile, mounts) are the caller's.
    QCoro::Task<QString> rename(QString id, QString newName);
    // Removes the file, its node and its mount entries; a remote profile's quota record goes with the
    // next pruning of orphans, done here at once.
    QCoro::Task<> remove(QString id);

    // Compiles profiles/<fileName> with the current engine settings and its mounted subscriptions into
    // the runtime configuration, or into `targetFile` when given (a candidate to be checked first).
    QCoro::Task<> syncToRuntime(QString fileName, QString targetFile = QString());
    // syncToRuntime(), then the supervisor restarts the kernel on it; the new kernel's pid. Nothing else
    // runs on the store in between.
    QCoro::Task<qint32> activate(QString fileName);

    QCoro::Task<MountLedger::Map> getMountLedger();
    QCoro::Task<> saveMountLedger(MountLedger::Map map);
    QCoro::Task<QStringList> getMountedSubscriptions(QString localProfile);
    QCoro::Task<> toggleMountSubscription(QString localProfile, QString remoteProfile, bool isMounted);

    // "/" and ":" become "-"; then "<name>.yaml", or "<name> (n).yaml" for the first free n.
    static QString uniqueFileName(const QString& directory, const QString& displayName);

private:
    // Operation bodies, called with the lock held, so that a longer operation (activation restarts the
    // kernel after compiling) can chain them without letting another operation in between.
    void compileToRuntime(const QString& fileName, const QString& targetFile);
    ProfileNode requireNode(const QString& id) const;
    void recordQuota(const QString& url, const std::optional<SubscriptionInfo>& info);

    ClashPaths m_paths;
    const Settings& m_settings;
    QPointer<SubscriptionManager> m_subscriptions;
    KernelRestarter* m_supervisor;
    ProfileDownloader* m_downloader;
    ProfileLedger m_ledger;
    MountLedger m_mounts;
    AsyncMutex m_mutex;
};

} // namespace tarnwick
