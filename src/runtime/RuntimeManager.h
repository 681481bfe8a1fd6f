#pragma once

#include "GitHubReleaseService.h"
#include "RuntimeChannel.h"
#include "RuntimeDownloader.h"
#include "RuntimeInstaller.h"
#include "RuntimeState.h"
#include "RuntimeVerifier.h"
#include "config/ClashPaths.h"
#include "platform/AsyncMutex.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QStringList>
#include <optional>

namespace tarnwick {

class Settings;

// Keeps the kernel executables on disk: core/versions/<version>/mihomo, one per installed kernel, and
// core/current, the link the supervisor starts. Installs a channel's newest release, verifies it, points
// the link at it, rolls back to any kept version, checks for newer releases and prunes old ones.
// Activating a kernel never touches the running process: it raises isPendingRestart for AppState.
// Main thread only; installs and local switches run one at a time.
class RuntimeManager final : public QObject
{
    Q_OBJECT

public:
    static inline const QString channelKey = QStringLiteral("com.tarnwick.runtimeChannel");
    // Kept per channel by pruning, besides the active kernel.
    static constexpr int keptPerChannel = 3;

    RuntimeManager(ClashPaths paths, Settings& settings, GitHubReleaseService releaseService,
                   RuntimeDownloader downloader, QObject* parent = nullptr);

    const RuntimeState& state() const { return m_state; }
    RuntimeChannel currentChannel() const { return m_currentChannel; }
    void setCurrentChannel(RuntimeChannel channel);
    bool hasUpdateAvailable() const { return m_hasUpdateAvailable; }
    const std::optional<QString>& latestRemoteVersion() const { return m_latestRemoteVersion; }
    bool isPendingRestart() const { return m_isPendingRestart; }
    // Why the last installOrUpdate ended ready on a kernel already on disk instead of the newest release;
    // absent after a full install, an outright failure (state() carries that error) and a local switch.
    const std::optional<RuntimeError>& keptLocalBecause() const { return m_keptLocalBecause; }
    void setPendingRestart(bool pending);

    // Never throws: the outcome is in state().
    QCoro::Task<> installOrUpdate(RuntimeChannel channel);
    // Installs a kernel archive already at hand (no download) as `version`, as installOrUpdate does once
    // it has downloaded one. Never throws: the outcome is in state().
    QCoro::Task<> installArchive(QString gzPath, QString version);
    // Never throws; a failed check is logged and changes nothing.
    QCoro::Task<> checkForUpdates(std::optional<QString> currentVersion);
    // Activates an installed kernel. Throws RuntimeError (fsOperationFailed "Target version binary
    // missing" for an unknown or unsafe name).
    QCoro::Task<> switchToLocalVersion(QString dirName);

    // Installed version directories (holding a "mihomo"), newest first.
    QStringList fetchLocalVersions() const;
    // Deletes the versions beyond the newest three of each channel, keeping the active one.
    void pruneStaleVersions() const;
    // The directory core/current points into, if the link can be read.
    std::optional<QString> activeVersion() const;

    static RuntimeChannel inferChannel(const QString& dirName);
    // A version text usable as a directory name right under core/versions (no separators, no dot
    // entries, no hidden or control characters).
    static bool isSafeVersionName(const QString& name);

Q_SIGNALS:
    void stateChanged();
    void currentChannelChanged();
    void hasUpdateAvailableChanged();
    void latestRemoteVersionChanged();
    void isPendingRestartChanged();

private:
    void setState(const RuntimeState& state);
    void setHasUpdateAvailable(bool available);
    QString versionBinary(const QString& dirName) const;
    bool linkResolvesTo(const QString& binary) const;
    void switchLink(const QString& binary);
    // Steps 6 to 9 of an install: unpack, verify, switch, ready.
    QCoro::Task<> installDownloaded(QString gzPath, QString version);
    static RuntimeError asRuntimeError(const std::exception& error);
    static void failWith(RuntimeManager* self, const std::exception& error);

    ClashPaths m_paths;
    Settings& m_settings;
    GitHubReleaseService m_releaseService;
    RuntimeDownloader m_downloader;
    RuntimeInstaller m_installer;
    RuntimeVerifier m_verifier;
    AsyncMutex m_operations;

    RuntimeState m_state;
    RuntimeChannel m_currentChannel = RuntimeChannel::stable;
    bool m_hasUpdateAvailable = false;
    std::optional<QString> m_latestRemoteVersion;
    bool m_isPendingRestart = false;
    std::optional<RuntimeError> m_keptLocalBecause;
};

} // namespace tarnwick
