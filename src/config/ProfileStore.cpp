#include "ProfileStore.h"

#include "AtomicFile.h"
#include "ConfigCompiler.h"
#include "EngineSettings.h"
#include "KernelRestarter.h"
#include "ProfileDownloader.h"
#include "SubscriptionManager.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace tarnwick {

ProfileStoreError ProfileStoreError::fileNotFound(const QString& fileName)
{
    return {Kind::FileNotFound, QStringLiteral("Profile not found in profiles directory: ") + fileName};
}

ProfileStoreError ProfileStoreError::profileNotFound()
{
    return {Kind::ProfileNotFound, QStringLiteral("Profile not found")};
}

ProfileStoreError ProfileStoreError::notRemote()
{
    return {Kind::NotRemote, QStringLiteral("Profile is not a remote subscription")};
}

namespace {

// A coroutine that waited (for the lock or a download) finds out here whether its store still exists.
void ensureAlive(const QPointer<ProfileStore>& store)
{
    if (!store)
        throw Error(QStringLiteral("The profile store was closed before the operation could finish."));
}

// Profiles are validated by compiling them as the kernel would get them, minus the user's settings.
void validate(const QString& path)
{
    ConfigCompiler::compile(path, {}, {});
}

QString withoutYamlExtension(const QString& name)
{
    for (QLatin1String extension : {QLatin1String(".yaml"), QLatin1String(".yml")}) {
        if (name.endsWith(extension, Qt::CaseInsensitive))
            return name.chopped(extension.size());
    }
    return name;
}

} // namespace

ProfileStore::ProfileStore(ClashPaths paths, const Settings& settings, SubscriptionManager* subscriptions,
                           KernelRestarter* supervisor, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_settings(settings), m_subscriptions(subscriptions),
      m_supervisor(supervisor), m_downloader(new ProfileDownloader(settings, this)),
      m_ledger(m_paths.profilesDirectory()), m_mounts(m_paths.profilesDirectory())
{}

ProfileStore::~ProfileStore() = default;

QString ProfileStore::profileURL(const QString& fileName) const
{
    return m_paths.profilesDirectory() + fileName;
}

QString ProfileStore::uniqueFileName(const QString& directory, const QString& displayName)
{
    QString base = displayName;
    base.replace(u'/', u'-').replace(u':', u'-');
    const QDir dir(directory);
    QString candidate = base + QStringLiteral(".yaml");
    for (int n = 1; dir.exists(candidate); ++n)
        candidate = QStringLiteral("%1 (%2).yaml").arg(base).arg(n);
    return candidate;
}

ProfileNode ProfileStore::requireNode(const QString& id) const
{
    std::optional<ProfileNode> node = m_ledger.node(id);
    if (!node)
        throw ProfileStoreError::profileNotFound();
    return *node;
}

void ProfileStore::recordQuota(const QString& url, const std::optional<SubscriptionInfo>& info)
{
    if (info && m_subscriptions)
        m_subscriptions->update(url, *info);
}

QCoro::Task<QStringList> ProfileStore::listProfiles()
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    co_return m_ledger.profileFiles();
}

QCoro::Task<QList<ProfileNode>> ProfileStore::nodes()
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    co_return m_ledger.getNodes();
}

QCoro::Task<ProfileNode> ProfileStore::importLocal(QString sourcePath)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);

    validate(sourcePath);
    ProfileNode node;
    node.id = ProfileNode::newId();
    node.name = QFileInfo(sourcePath).completeBaseName();
    node.type = ProfileType::Local;
    node.fileName = uniqueFileName(m_paths.profilesDirectory(), node.name);
    const QString target = profileURL(node.fileName);
    AtomicFile::write(target, AtomicFile::read(sourcePath));
    try {
        m_ledger.upsert(node);
    } catch (...) {
        QFile::remove(target);
        throw;
    }
    qCInfo(lcProfiles, "Imported local profile %s", qUtf8Printable(node.fileName));
    co_return node;
}

QCoro::Task<ProfileNode> ProfileStore::importRemote(QString url, QString name,
                                                    std::optional<double> updateInterval)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);

    const ProfileDownload download = co_await m_downloader->download(url);
    ensureAlive(self);
    validate(download.filePath());

    ProfileNode node;
    node.id = ProfileNode::newId();
    node.name = name;
    if (node.name.isEmpty() && download.remoteName)
        node.name = withoutYamlExtension(*download.remoteName);
    if (node.name.isEmpty())
        node.name =
            QStringLiteral("Sub_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmm"));
    node.type = ProfileType::Remote;
    node.fileName = uniqueFileName(m_paths.profilesDirectory(), node.name);
    node.url = url;
    node.updateInterval = updateInterval;
    node.lastUpdated = QDateTime::currentDateTimeUtc();

    const QString target = profileURL(node.fileName);
    AtomicFile::write(target, AtomicFile::read(download.filePath()));
    try {
        m_ledger.upsert(node);
    } catch (...) {
        QFile::remove(target);
        throw;
    }
    recordQuota(url, download.info);
    qCInfo(lcProfiles, "Imported remote profile %s", qUtf8Printable(node.fileName));
    co_return node;
}

QCoro::Task<ProfileNode> ProfileStore::updateRemote(QString id)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);

    ProfileNode node = requireNode(id);
    if (!node.url || node.url->isEmpty())
        throw ProfileStoreError::notRemote();
    const ProfileDownload download = co_await m_downloader->download(*node.url);
    ensureAlive(self);
    validate(download.filePath());

    // Replaced atomically: the profile is never missing or half-written, even if this fails.
    AtomicFile::write(profileURL(node.fileName), AtomicFile::read(download.filePath()));
    node.lastUpdated = QDateTime::currentDateTimeUtc();
    m_ledger.upsert(node);
    recordQuota(*node.url, download.info);
    co_return node;
}

QCoro::Task<ProfileNode> ProfileStore::updateMetadata(QString id, QString url, QString name,
                                                      std::optional<double> updateInterval)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);

    ProfileNode node = requireNode(id);
    node.url = url;
    node.name = name;
    node.updateInterval = updateInterval;
    m_ledger.upsert(node);
    co_return node;
}

QCoro::Task<QString> ProfileStore::rename(QString id, QString newName)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);

    ProfileNode node = requireNode(id);
    QString sanitized = newName;
    sanitized.replace(u'/', u'-').replace(u':', u'-');
    // Renaming to the name it already has keeps the file where it is.
    const QString fileName = sanitized + QStringLiteral(".yaml") == node.fileName
                                 ? node.fileName
                                 : uniqueFileName(m_paths.profilesDirectory(), newName);
    const QString from = profileURL(node.fileName);
    const QString to = profileURL(fileName);
    if (from != to && !QFile::rename(from, to))
        throw FileError(QStringLiteral("Could not rename %1 to %2").arg(node.fileName, fileName));
    const QString previousFileName = node.fileName;
    node.name = newName;
    node.fileName = fileName;
    try {
        m_ledger.upsert(node);
    } catch (...) {
        if (from != to)
            QFile::rename(to, from);
        throw;
    }
    qCInfo(lcProfiles, "Renamed profile %s to %s", qUtf8Printable(previousFileName),
           qUtf8Printable(fileName));
    co_return fileName;
}

QCoro::Task<> ProfileStore::remove(QString id)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);

    const ProfileNode node = requireNode(id);
    const QString path = profileURL(node.fileName);
    if (!QFile::remove(path) && QFileInfo::exists(path))
        throw FileError(QStringLiteral("Could not delete %1").arg(path));
    m_ledger.remove(id);
    m_mounts.forget(node.fileName);
    if (node.url && m_subscriptions) {
        QSet<QString> active;
        for (const ProfileNode& remaining : m_ledger.getNodes()) {
            if (remaining.url)
                active.insert(*remaining.url);
        }
        m_subscriptions->prune(active);
    }
    qCInfo(lcProfiles, "Deleted profile %s", qUtf8Printable(node.fileName));
}

void ProfileStore::compileToRuntime(const QString& fileName, const QString& targetFile)
{
    const QString source = profileURL(fileName);
    if (!QFileInfo::exists(source))
        throw ProfileStoreError::fileNotFound(fileName);
    ConfigCompiler::MountedSubscriptions mounted;
    for (const QString& remote : m_mounts.mountedSubscriptions(fileName)) {
        const std::optional<ProfileNode> node = m_ledger.nodeByFileName(remote);
        mounted.insert(profileURL(remote), node && node->url ? *node->url : QString());
    }
    ConfigCompiler::compileAndWrite(source, targetFile.isEmpty() ? m_paths.runtimeConfigFile() : targetFile,
                                    EngineSettings::buildOverridesFromDefaults(m_settings), mounted);
}

QCoro::Task<> ProfileStore::syncToRuntime(QString fileName, QString targetFile)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    compileToRuntime(fileName, targetFile);
}

QCoro::Task<qint32> ProfileStore::activate(QString fileName)
{
    if (!m_supervisor)
        throw std::logic_error("ProfileStore::activate needs a kernel supervisor");
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    compileToRuntime(fileName, QString());
    co_return co_await m_supervisor->restart();
}

QCoro::Task<MountLedger::Map> ProfileStore::getMountLedger()
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    co_return m_mounts.get();
}

QCoro::Task<> ProfileStore::saveMountLedger(MountLedger::Map map)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    m_mounts.save(map);
}

QCoro::Task<QStringList> ProfileStore::getMountedSubscriptions(QString localProfile)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    co_return m_mounts.mountedSubscriptions(localProfile);
}

QCoro::Task<> ProfileStore::toggleMountSubscription(QString localProfile, QString remoteProfile,
                                                    bool isMounted)
{
    QPointer<ProfileStore> self(this);
    const AsyncMutex::Lock lock = co_await m_mutex.lock();
    ensureAlive(self);
    m_mounts.toggle(localProfile, remoteProfile, isMounted);
}

} // namespace tarnwick
