#include "RuntimeManager.h"

#include "RuntimeSwitcher.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QUuid>
#include <algorithm>

namespace tarnwick {

namespace {

const QString kExecutableName = QStringLiteral("mihomo");

// When a version directory was made. Linux records a birth time on most file systems; where it does not,
// the last status change of the directory is the moment its kernel was unpacked into it.
QDateTime creationDate(const QFileInfo& info)
{
    const QDateTime birth = info.birthTime();
    return birth.isValid() ? birth : info.metadataChangeTime();
}

} // namespace

RuntimeManager::RuntimeManager(ClashPaths paths, Settings& settings, GitHubReleaseService releaseService,
                               RuntimeDownloader downloader, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_settings(settings),
      m_releaseService(std::move(releaseService)), m_downloader(std::move(downloader))
{
    m_currentChannel =
        runtimeChannelFromRawValue(m_settings.text(channelKey, QString())).value_or(RuntimeChannel::stable);
    m_state = QFileInfo::exists(m_paths.managedCoreExecutable())
                  ? RuntimeState::ready(QStringLiteral("Installed"))
                  : RuntimeState::of(RuntimeState::Kind::missing);
}

void RuntimeManager::setCurrentChannel(RuntimeChannel channel)
{
    m_settings.setText(channelKey, rawValue(channel));
    if (m_currentChannel == channel)
        return;
    m_currentChannel = channel;
    Q_EMIT currentChannelChanged();
}

void RuntimeManager::setPendingRestart(bool pending)
{
    if (m_isPendingRestart == pending)
        return;
    m_isPendingRestart = pending;
    Q_EMIT isPendingRestartChanged();
}

void RuntimeManager::setState(const RuntimeState& state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void RuntimeManager::setHasUpdateAvailable(bool available)
{
    if (m_hasUpdateAvailable == available)
        return;
    m_hasUpdateAvailable = available;
    Q_EMIT hasUpdateAvailableChanged();
}

RuntimeChannel RuntimeManager::inferChannel(const QString& dirName)
{
    const QString name = dirName.toLower();
    if (name.contains(QLatin1String("smart")))
        return RuntimeChannel::smart;
    if (name.contains(QLatin1String("alpha")) || name.contains(QLatin1String("prerelease")))
        return RuntimeChannel::alpha;
    return RuntimeChannel::stable;
}

bool RuntimeManager::isSafeVersionName(const QString& name)
{
    if (name.isEmpty() || name.size() > 128 || name.startsWith(QLatin1Char('.')))
        return false;
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_' || c == u'+';
    });
}

QString RuntimeManager::versionBinary(const QString& dirName) const
{
    return m_paths.versionsDirectory() + dirName + QLatin1Char('/') + kExecutableName;
}

bool RuntimeManager::linkResolvesTo(const QString& binary) const
{
    const QString current = QFileInfo(m_paths.managedCoreExecutable()).canonicalFilePath();
    return !current.isEmpty() && current == QFileInfo(binary).canonicalFilePath();
}

void RuntimeManager::switchLink(const QString& binary)
{
    setState(RuntimeState::of(RuntimeState::Kind::switching));
    RuntimeSwitcher::switchTo(QFileInfo(binary).absoluteFilePath(), m_paths.managedCoreExecutable());
    setPendingRestart(true);
}

RuntimeError RuntimeManager::asRuntimeError(const std::exception& error)
{
    const auto* runtimeError = dynamic_cast<const RuntimeError*>(&error);
    return runtimeError ? *runtimeError : RuntimeError::fsOperationFailed(describe(error));
}

void RuntimeManager::failWith(RuntimeManager* self, const std::exception& error)
{
    const RuntimeError failure = asRuntimeError(error);
    qCWarning(lcRuntime, "Kernel installation failed: %s", qUtf8Printable(failure.description()));
    self->setState(RuntimeState::failed(failure));
}

QCoro::Task<> RuntimeManager::installOrUpdate(RuntimeChannel channel)
{
    QPointer<RuntimeManager> self(this);
    const AsyncMutex::Lock lock = co_await m_operations.lock();
    if (!self)
        co_return;
    setCurrentChannel(channel);
    m_keptLocalBecause.reset();
    setState(RuntimeState::of(RuntimeState::Kind::checking));

    std::optional<RuntimeState> localActivated;
    const QStringList local = fetchLocalVersions();
    const auto hit = std::find_if(local.cbegin(), local.cend(),
                                  [channel](const QString& name) { return inferChannel(name) == channel; });
    if (hit != local.cend()) {
        try {
            if (!linkResolvesTo(versionBinary(*hit)))
                switchLink(versionBinary(*hit));
            setState(RuntimeState::ready(*hit));
            localActivated = m_state;
        } catch (const std::exception& error) {
            qCWarning(lcRuntime, "Local switch failed: %s", qUtf8Printable(describe(error)));
        }
    }

    try {
        const RuntimeRelease release = co_await m_releaseService.fetchLatest(channel);
        if (!self)
            co_return;
        if (!isSafeVersionName(release.version))
            throw RuntimeError::fsOperationFailed(QStringLiteral("Invalid version name: ") + release.version);
        const QString target = versionBinary(release.version);
        if (QFileInfo(target).isFile()) {
            if (!linkResolvesTo(target))
                switchLink(target);
            setState(RuntimeState::ready(release.version));
            setHasUpdateAvailable(false);
            pruneStaleVersions();
            co_return;
        }

        setState(RuntimeState::downloading(0));
        const QString archive = QDir::temp().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        // Named, not a temporary of the co_await expression: GCC 12 mishandles those.
        const RuntimeDownloader::ProgressHandler progress = [self](double fraction) {
            if (self)
                self->setState(RuntimeState::downloading(fraction));
        };
        co_await m_downloader.download(release.downloadURL, archive, progress);
        if (!self)
            co_return;
        co_await installDownloaded(archive, release.version);
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        if (localActivated) {
            // The kernel on disk stays active, and the views go back to it from wherever the failed
            // download or install had brought them, with the reason kept for them to show.
            m_keptLocalBecause = asRuntimeError(error);
            qCInfo(lcRuntime, "Kept the local kernel: %s", qUtf8Printable(m_keptLocalBecause->description()));
            m_state = *localActivated;
            Q_EMIT stateChanged();
        } else {
            failWith(this, error);
        }
    }
}

QCoro::Task<> RuntimeManager::installArchive(QString gzPath, QString version)
{
    QPointer<RuntimeManager> self(this);
    const AsyncMutex::Lock lock = co_await m_operations.lock();
    if (!self)
        co_return;
    try {
        if (!isSafeVersionName(version))
            throw RuntimeError::fsOperationFailed(QStringLiteral("Invalid version name: ") + version);
        // The installer consumes its archive; the caller keeps the original.
        const QString copy = QDir::temp().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (!QFile::copy(gzPath, copy))
            throw RuntimeError::fsOperationFailed(QStringLiteral("Cannot read ") + gzPath);
        co_await installDownloaded(copy, version);
    } catch (const std::exception& error) {
        if (self)
            failWith(this, error);
    }
}

QCoro::Task<> RuntimeManager::installDownloaded(QString gzPath, QString version)
{
    QPointer<RuntimeManager> self(this);
    const QString target = versionBinary(version);
    setState(RuntimeState::of(RuntimeState::Kind::installing));
    if (!QDir().mkpath(m_paths.versionsDirectory() + version))
        throw RuntimeError::fsOperationFailed(QStringLiteral("Cannot create ") + m_paths.versionsDirectory() +
                                              version);
    co_await m_installer.install(gzPath, target);
    if (!self)
        co_return;
    setState(RuntimeState::of(RuntimeState::Kind::validating));
    try {
        co_await m_verifier.verify(target);
    } catch (const RuntimeError&) {
        // Kept for inspection, but under another name, so that it never counts as an installed kernel that
        // a later install could switch to.
        QFile::remove(target + QStringLiteral(".rejected"));
        QFile::rename(target, target + QStringLiteral(".rejected"));
        throw;
    }
    if (!self)
        co_return;
    switchLink(target);
    qCInfo(lcRuntime, "Kernel %s installed and active", qUtf8Printable(version));
    setState(RuntimeState::ready(version));
    setHasUpdateAvailable(false);
    pruneStaleVersions();
}

QCoro::Task<> RuntimeManager::checkForUpdates(std::optional<QString> currentVersion)
{
    if (!currentVersion || currentVersion->isEmpty() || *currentVersion == QLatin1String("Installed"))
        co_return;
    QPointer<RuntimeManager> self(this);
    try {
        const RuntimeRelease release = co_await m_releaseService.fetchLatest(inferChannel(*currentVersion));
        if (!self)
            co_return;
        if (m_latestRemoteVersion != release.version) {
            m_latestRemoteVersion = release.version;
            Q_EMIT latestRemoteVersionChanged();
        }
        setHasUpdateAvailable(*currentVersion != release.version);
    } catch (const std::exception& error) {
        qCWarning(lcRuntime, "Update check failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<> RuntimeManager::switchToLocalVersion(QString dirName)
{
    QPointer<RuntimeManager> self(this);
    const AsyncMutex::Lock lock = co_await m_operations.lock();
    if (!self)
        co_return;
    const RuntimeState previous = m_state;
    m_keptLocalBecause.reset();
    try {
        setState(RuntimeState::of(RuntimeState::Kind::switching));
        if (!isSafeVersionName(dirName) || !QFileInfo(versionBinary(dirName)).isFile())
            throw RuntimeError::fsOperationFailed(QStringLiteral("Target version binary missing"));
        switchLink(versionBinary(dirName));
        setState(RuntimeState::ready(dirName));
    } catch (const std::exception&) {
        // The link is as it was, and so is what the views show.
        setState(previous);
        throw;
    }
}

QStringList RuntimeManager::fetchLocalVersions() const
{
    QFileInfoList directories =
        QDir(m_paths.versionsDirectory()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    directories.removeIf([](const QFileInfo& info) {
        return !QFileInfo(info.filePath() + QLatin1Char('/') + kExecutableName).isFile();
    });
    QHash<QString, QDateTime> dates;
    for (const QFileInfo& info : directories)
        dates.insert(info.fileName(), creationDate(info));
    std::stable_sort(directories.begin(), directories.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        const QDateTime& left = dates[a.fileName()];
        const QDateTime& right = dates[b.fileName()];
        // An unknown date is the distant past.
        if (!left.isValid() || !right.isValid())
            return left.isValid() && !right.isValid();
        return left > right;
    });
    QStringList names;
    for (const QFileInfo& info : directories)
        names.append(info.fileName());
    return names;
}

std::optional<QString> RuntimeManager::activeVersion() const
{
    const QFileInfo link(m_paths.managedCoreExecutable());
    if (!link.isSymLink())
        return std::nullopt;
    return QFileInfo(link.symLinkTarget()).dir().dirName();
}

void RuntimeManager::pruneStaleVersions() const
{
    const QStringList versions = fetchLocalVersions();
    const std::optional<QString> active = activeVersion();
    QHash<RuntimeChannel, int> keptByChannel;
    for (const QString& name : versions) {
        int& kept = keptByChannel[inferChannel(name)];
        if (kept < keptPerChannel) {
            ++kept;
            continue;
        }
        if (name == active)
            continue;
        QDir(m_paths.versionsDirectory() + name).removeRecursively();
        qCInfo(lcRuntime, "Pruned stale kernel: %s", qUtf8Printable(name));
    }
}

} // namespace tarnwick
