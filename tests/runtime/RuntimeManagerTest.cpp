#include "runtime/RuntimeManager.h"

#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

using namespace tarnwick;
using Asset = test::ReleaseFeedServer::Asset;

namespace {

const QString kMihomo = "MetaCubeX/mihomo";

QByteArray gzip(const QByteArray& bytes)
{
    QProcess process;
    process.start("gzip", {"-1", "-c"});
    process.write(bytes);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// The provisioned kernel, gzipped as a release publishes it; made once per run.
const QByteArray& gzippedKernel(const QString& kernel)
{
    static const QByteArray archive = [&] {
        QFile file(kernel);
        file.open(QIODevice::ReadOnly);
        return gzip(file.readAll());
    }();
    return archive;
}

QString archiveName(const QString& version)
{
    return "mihomo-" + GitHubReleaseService::architectureTag() + QLatin1Char('-') + version + ".gz";
}

class RuntimeManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_paths = ClashPaths(m_dir.filePath("workspace"));
        m_paths.prepare();
        m_settings = std::make_unique<Settings>(m_dir.filePath("settings.ini"));
        m_settings->setText("releases.apiBaseURL", m_feed.apiBase());
        m_manager = makeManager();
    }

    std::unique_ptr<RuntimeManager> makeManager()
    {
        return std::make_unique<RuntimeManager>(m_paths, *m_settings,
                                                GitHubReleaseService(&m_network, *m_settings),
                                                RuntimeDownloader(&m_network));
    }

    void publishKernel(const QString& tag, const QString& kernel, bool prerelease = false)
    {
        m_feed.publish(kMihomo, tag, prerelease, {Asset{archiveName(tag), gzippedKernel(kernel), -1, 200}});
    }

    // Installs and records every state passed through.
    QList<RuntimeState> install(RuntimeChannel channel)
    {
        QList<RuntimeState> states;
        const auto connection = QObject::connect(m_manager.get(), &RuntimeManager::stateChanged,
                                                 [&] { states.append(m_manager->state()); });
        test::await(m_manager->installOrUpdate(channel), std::chrono::seconds(60));
        QObject::disconnect(connection);
        return states;
    }

    QString linkTarget() const { return QFileInfo(m_paths.managedCoreExecutable()).symLinkTarget(); }
    QString binary(const QString& version) const { return m_paths.versionsDirectory() + version + "/mihomo"; }

    QTemporaryDir m_dir;
    ClashPaths m_paths{"/nonexistent/"};
    std::unique_ptr<Settings> m_settings;
    QNetworkAccessManager m_network;
    test::ReleaseFeedServer m_feed;
    std::unique_ptr<RuntimeManager> m_manager;
};

QList<RuntimeState::Kind> kinds(const QList<RuntimeState>& states)
{
    QList<RuntimeState::Kind> result;
    for (const RuntimeState& state : states) {
        if (result.isEmpty() || result.last() != state.kind)
            result.append(state.kind);
    }
    return result;
}

using Kind = RuntimeState::Kind;

} // namespace

// A fresh workspace installs the stable kernel, then a newer one, skips what it already has, rolls back,
// and takes a rolling alpha build under its build name.
TEST_F(RuntimeManagerTest, InstallsSwitchesAndRollsBackRealKernels)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    EXPECT_EQ(m_manager->state(), RuntimeState::of(Kind::missing));
    publishKernel("v1.19.29", kernel);

    const QList<RuntimeState> first = install(RuntimeChannel::stable);
    EXPECT_EQ(kinds(first), (QList<Kind>{Kind::checking, Kind::downloading, Kind::installing,
                                         Kind::validating, Kind::switching, Kind::ready}));
    EXPECT_EQ(m_manager->state(), RuntimeState::ready("v1.19.29"));
    EXPECT_EQ(linkTarget(), binary("v1.19.29"));
    EXPECT_TRUE(QFileInfo(m_paths.managedCoreExecutable()).isExecutable());
    EXPECT_FALSE(QFile::exists(binary("v1.19.29") + ".gz"));
    EXPECT_TRUE(m_manager->isPendingRestart());
    EXPECT_EQ(m_settings->text(RuntimeManager::channelKey), "stable");
    // Progress rose in steps and reached the end.
    QList<double> progress;
    for (const RuntimeState& state : first) {
        if (state.kind == Kind::downloading)
            progress.append(state.progress);
    }
    EXPECT_TRUE(std::is_sorted(progress.cbegin(), progress.cend()));
    EXPECT_EQ(progress.last(), 1.0);

    // Nothing newer: no download, no switch, no restart.
    m_manager->setPendingRestart(false);
    const int downloads = m_feed.requestCount("/download/");
    EXPECT_EQ(kinds(install(RuntimeChannel::stable)), (QList<Kind>{Kind::checking, Kind::ready}));
    EXPECT_EQ(m_feed.requestCount("/download/"), downloads);
    EXPECT_FALSE(m_manager->isPendingRestart());

    // An update check against the running kernel's version, then the newer release installed.
    publishKernel("v1.19.30", kernel);
    test::await(m_manager->checkForUpdates("v1.19.29"));
    EXPECT_TRUE(m_manager->hasUpdateAvailable());
    EXPECT_EQ(m_manager->latestRemoteVersion(), "v1.19.30");
    const int listRequests = m_feed.requestCount("/repos/");
    test::await(m_manager->checkForUpdates("Installed"));
    EXPECT_EQ(m_feed.requestCount("/repos/"), listRequests);

    install(RuntimeChannel::stable);
    EXPECT_EQ(m_manager->state(), RuntimeState::ready("v1.19.30"));
    EXPECT_EQ(linkTarget(), binary("v1.19.30"));
    EXPECT_FALSE(m_manager->hasUpdateAvailable());
    EXPECT_TRUE(m_manager->isPendingRestart());
    EXPECT_EQ(m_manager->fetchLocalVersions(), (QStringList{"v1.19.30", "v1.19.29"}));

    // Rollback, and names that are not installed versions.
    m_manager->setPendingRestart(false);
    test::await(m_manager->switchToLocalVersion("v1.19.29"));
    EXPECT_EQ(linkTarget(), binary("v1.19.29"));
    EXPECT_EQ(m_manager->state(), RuntimeState::ready("v1.19.29"));
    EXPECT_TRUE(m_manager->isPendingRestart());
    for (const QString name : {"v9.9.9", "../versions/v1.19.30", ""}) {
        EXPECT_EQ(test::errorText<RuntimeError>(m_manager->switchToLocalVersion(name)),
                  "File system operation failed: Target version binary missing");
        EXPECT_EQ(linkTarget(), binary("v1.19.29"));
        EXPECT_EQ(m_manager->state(), RuntimeState::ready("v1.19.29"));
    }

    // The alpha channel's rolling release is installed under its build name; the channel is remembered.
    publishKernel("Prerelease-Alpha", kernel, true);
    m_feed.publish(kMihomo, "Prerelease-Alpha", true,
                   {Asset{archiveName("alpha-0f1e2d3"), gzippedKernel(kernel), -1, 200}});
    install(RuntimeChannel::alpha);
    EXPECT_EQ(m_manager->state(), RuntimeState::ready("alpha-0f1e2d3"));
    EXPECT_EQ(linkTarget(), binary("alpha-0f1e2d3"));
    EXPECT_EQ(makeManager()->currentChannel(), RuntimeChannel::alpha);
    EXPECT_EQ(makeManager()->state(), RuntimeState::ready("Installed"));

    // Back to stable: the newest stable kernel on disk is activated at once, without a download.
    const int before = m_feed.requestCount("/download/");
    EXPECT_EQ(kinds(install(RuntimeChannel::stable)),
              (QList<Kind>{Kind::checking, Kind::switching, Kind::ready}));
    EXPECT_EQ(linkTarget(), binary("v1.19.30"));
    EXPECT_EQ(m_feed.requestCount("/download/"), before);
}

// Whatever goes wrong on the way, the active kernel stays active and the failure says why.
TEST_F(RuntimeManagerTest, FailedInstallsLeaveTheActiveKernel)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    publishKernel("v1.19.29", kernel);
    install(RuntimeChannel::stable);
    ASSERT_EQ(linkTarget(), binary("v1.19.29"));

    const QByteArray notAKernel = gzip("#!/bin/sh\necho \"Clash v1.18.0 linux amd64\"\n");
    const QByteArray& real = gzippedKernel(kernel);
    struct Case
    {
        const char* tag;
        Asset asset;
        QString expected;
    };
    const QList<Case> cases = {
        {"v2-truncated", Asset{{}, real.left(real.size() / 3), -1, 200},
         "File system operation failed: Gunzip failed with status 1"},
        {"v2-not-gzip", Asset{{}, "PK\x03\x04 this is a zip, not a gzip", -1, 200},
         "File system operation failed: Gunzip failed with status 1"},
        {"v2-missing", Asset{{}, {}, -1, 404}, "Network failure: HTTP 404"},
        {"v2-half-way", Asset{{}, real.left(real.size() / 2), real.size(), 200}, {}},
        {"../../../escaped", Asset{{}, real, -1, 200},
         "File system operation failed: Invalid version name: ../../../escaped"},
        {"v2$(reboot)", Asset{{}, real, -1, 200},
         "File system operation failed: Invalid version name: v2$(reboot)"},
        // Last, for its error's kind and exit code below.
        {"v2-not-a-kernel", Asset{{}, notAKernel, -1, 200},
         QStringLiteral("Binary verification failed (exit code -1): Invalid binary signature: Clash v1.18.0 "
                        "linux amd64\n")},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.tag);
        const QString tag = QString::fromLatin1(c.tag);
        c.asset.name = archiveName(tag);
        m_feed.publish(kMihomo, tag, true, {c.asset});
        m_manager->setPendingRestart(false);
        install(RuntimeChannel::alpha); // no alpha kernel on disk: nothing local to fall back on
        ASSERT_EQ(m_manager->state().kind, Kind::failed);
        if (c.expected.isEmpty())
            EXPECT_TRUE(m_manager->state().error->description().startsWith("Network failure: "))
                << m_manager->state().error->description().toStdString();
        else
            EXPECT_EQ(m_manager->state().error->description(), c.expected);
        EXPECT_EQ(linkTarget(), binary("v1.19.29"));
        EXPECT_FALSE(m_manager->isPendingRestart());
        EXPECT_EQ(m_manager->fetchLocalVersions(), QStringList{"v1.19.29"});
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  (QStringList{"settings.ini", "workspace"}));
    }
    EXPECT_EQ(m_manager->state().error->kind(), RuntimeError::Kind::verificationFailed);
    EXPECT_EQ(m_manager->state().error->exitCode(), -1);

    // The stable kernel on disk stays in use when a newer one cannot be had, shown as ready again however
    // far the attempt got, with the reason it was kept.
    const std::pair<std::function<void()>, QString> keptCases[] = {
        {[&] {
             m_feed.publish(kMihomo, "v1.19.30", false, {Asset{archiveName("v1.19.30"), {}, -1, 404}});
         },
         "Network failure: HTTP 404"},
        {[&] { m_feed.overrideList(kMihomo, 500, "{}"); }, "Network failure: HTTP 500"},
    };
    for (const auto& [breakFeed, reason] : keptCases) {
        SCOPED_TRACE(reason.toStdString());
        breakFeed();
        const QList<RuntimeState> states = install(RuntimeChannel::stable);
        ASSERT_FALSE(states.isEmpty());
        EXPECT_EQ(states.last(), RuntimeState::ready("v1.19.29"));
        EXPECT_EQ(m_manager->state(), RuntimeState::ready("v1.19.29"));
        ASSERT_TRUE(m_manager->keptLocalBecause());
        EXPECT_EQ(m_manager->keptLocalBecause()->description(), reason);
    }
    test::await(m_manager->switchToLocalVersion("v1.19.29"));
    EXPECT_FALSE(m_manager->keptLocalBecause());

    // A dangling link is replaced without error.
    QFile::remove(m_paths.managedCoreExecutable());
    ASSERT_TRUE(QFile::link(m_paths.versionsDirectory() + "gone/mihomo", m_paths.managedCoreExecutable()));
    test::await(m_manager->switchToLocalVersion("v1.19.29"));
    EXPECT_EQ(linkTarget(), binary("v1.19.29"));
}

// Pruning keeps the three newest of each channel and the active kernel, whatever its age.
TEST_F(RuntimeManagerTest, PruneKeepsThreePerChannelAndTheActiveOne)
{
    const QStringList oldestFirst = {
        "v1.0.0", "v1.1.0", "alpha-aaaaaaa", "v1.2.0", "smart-v1.0", "v1.3.0", "alpha-bbbbbbb", "v1.4.0",
    };
    // Creation dates order versions. The file system's clock is coarse: before each directory, wait until a
    // directory made now would carry a later date than the one before.
    const auto created = [](const QString& path) {
        const QFileInfo info(path);
        return info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
    };
    const QString probe = m_dir.filePath("probe");
    QString previous;
    for (const QString& name : oldestFirst) {
        if (!previous.isEmpty()) {
            ASSERT_TRUE(test::waitFor([&] {
                QDir().mkdir(probe);
                const bool later = created(probe) > created(previous);
                QDir().rmdir(probe);
                return later;
            }));
        }
        test::writeFile(binary(name), "#!/bin/sh\n");
        previous = m_paths.versionsDirectory() + name;
    }
    // Hidden entries and directories without a kernel are not versions.
    QDir().mkpath(m_paths.versionsDirectory() + ".partial");
    test::writeFile(m_paths.versionsDirectory() + ".hidden/mihomo", "");
    QDir().mkpath(m_paths.versionsDirectory() + "empty");

    EXPECT_EQ(m_manager->fetchLocalVersions(), (QStringList{"v1.4.0", "alpha-bbbbbbb", "v1.3.0", "smart-v1.0",
                                                            "v1.2.0", "alpha-aaaaaaa", "v1.1.0", "v1.0.0"}));
    ASSERT_TRUE(QFile::link(binary("v1.0.0"), m_paths.managedCoreExecutable()));
    m_manager->pruneStaleVersions();
    EXPECT_EQ(m_manager->fetchLocalVersions(), (QStringList{"v1.4.0", "alpha-bbbbbbb", "v1.3.0", "smart-v1.0",
                                                            "v1.2.0", "alpha-aaaaaaa", "v1.0.0"}));
    EXPECT_TRUE(QFileInfo::exists(m_paths.versionsDirectory() + ".hidden/mihomo"));

    for (const auto& [name, channel] :
         {std::pair{"v1.19.30", RuntimeChannel::stable}, std::pair{"alpha-1a2b3c4", RuntimeChannel::alpha},
          std::pair{"Prerelease-Alpha", RuntimeChannel::alpha},
          std::pair{"smart-alpha-1", RuntimeChannel::smart}, std::pair{"Smart", RuntimeChannel::smart}})
        EXPECT_EQ(RuntimeManager::inferChannel(QString::fromLatin1(name)), channel) << name;
}
