#include "config/ProfileStore.h"

#include "config/ConfigCompiler.h"
#include "config/KernelRestarter.h"
#include "config/ProfileDownloader.h"
#include "config/SubscriptionManager.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kProfile =
    "proxies:\n  - {name: a, type: ss, server: 1.2.3.4, port: 443, cipher: aes-128-gcm, "
    "password: x}\nproxy-groups:\n  - {name: G, type: select, proxies: [a]}\n"
    "rules:\n  - MATCH,G\n";
const QByteArray kProfileV2 = kProfile + "  - DOMAIN,example.com,DIRECT\n";

// Every file below a directory with its bytes, to show that a failed operation changed nothing.
QMap<QString, QByteArray> snapshot(const QString& directory)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(directory).relativeFilePath(path), readFile(path).toUtf8());
    }
    return files;
}

class ProfileStoreTest : public ::testing::Test
{
protected:
    ProfileStoreTest()
        : m_server([this](const HttpRequest& request) { return respond(request); }),
          m_subscriptions(m_paths.profilesDirectory() + "subscription_ledger.json", m_settings),
          m_store(m_paths, m_settings, &m_subscriptions)
    {
        m_paths.prepare();
    }
    // A test that fails half-way must not leave the server thread blocked.
    ~ProfileStoreTest() override { m_gate.release(100); }

    HttpResponse respond(const HttpRequest& request)
    {
        static const QHash<QByteArray, QByteArray> bodies{{"/comments", "# nothing but a comment\n\n"},
                                                          {"/list", "- just\n- a list\n"},
                                                          {"/v2", kProfileV2},
                                                          {"/gated", kProfileV2}};
        if (request.path == "/missing")
            return HttpResponse{404, {}, {}, false};
        if (request.path == "/silent")
            return HttpResponse{200, {}, {}, true};
        if (request.path == "/gated")
            m_gate.acquire();
        if (bodies.contains(request.path))
            return HttpResponse{200, {}, bodies.value(request.path), false};
        return HttpResponse{200,
                            {{"subscription-userinfo", "upload=1; download=2; total=30; expire=40"},
                             {"content-disposition", "attachment; filename=\"Provider Name.yaml\""}},
                            kProfile,
                            false};
    }

    QString url(const char* path) const { return m_server.url(QString::fromLatin1(path)); }
    QString profiles() const { return m_paths.profilesDirectory(); }

    template <typename T> void expectFailure(QCoro::Task<T> task, const QString& description)
    {
        const auto before = snapshot(m_paths.applicationSupportDirectory());
        EXPECT_EQ(errorText(std::move(task)), description);
        EXPECT_EQ(snapshot(m_paths.applicationSupportDirectory()), before);
    }

    QSemaphore m_gate;
    QTemporaryDir m_dir;
    ClashPaths m_paths{m_dir.path() + "/"};
    Settings m_settings{m_dir.filePath("settings.ini")};
    TestHttpServer m_server;
    SubscriptionManager m_subscriptions;
    ProfileStore m_store;
};

} // namespace

TEST_F(ProfileStoreTest, ImportRemoteRegistersFileNodeAndQuota)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const ProfileNode node = await(m_store.importRemote(url("/sub"), QString(), 3600.0));
    // Named after the server's suggestion, without its extension.
    EXPECT_EQ(node.name, "Provider Name");
    EXPECT_EQ(node.fileName, "Provider Name.yaml");
    EXPECT_EQ(node.type, ProfileType::Remote);
    EXPECT_EQ(node.url, url("/sub"));
    EXPECT_EQ(node.updateInterval, 3600.0);
    // Dated now (secsTo() of an invalid date is 0, so validity is checked first).
    ASSERT_TRUE(node.lastUpdated && node.lastUpdated->isValid());
    EXPECT_GE(before.secsTo(*node.lastUpdated), 0);
    EXPECT_GE(node.lastUpdated->secsTo(QDateTime::currentDateTimeUtc()), 0);
    EXPECT_EQ(readFile(profiles() + node.fileName).toUtf8(), kProfile);
    EXPECT_EQ(await(m_store.nodes()), QList<ProfileNode>{node});
    EXPECT_EQ(SubscriptionManager::read(m_subscriptions.ledgerPath()).value(url("/sub")),
              (SubscriptionInfo{1, 2, 30, 40}));
}

TEST_F(ProfileStoreTest, FileNamesAreUniqueAndSafe)
{
    EXPECT_EQ(await(m_store.importRemote(url("/sub"), "Work", std::nullopt)).fileName, "Work.yaml");
    EXPECT_EQ(await(m_store.importRemote(url("/sub"), "Work", std::nullopt)).fileName, "Work (1).yaml");
    const ProfileNode odd = await(m_store.importRemote(url("/v2"), "a/b:c", std::nullopt));
    EXPECT_EQ(odd.fileName, "a-b-c.yaml");
    EXPECT_EQ(odd.name, "a/b:c");

    // Neither a given name nor a suggested one: a dated name.
    const ProfileNode dated = await(m_store.importRemote(url("/v2"), QString(), std::nullopt));
    EXPECT_TRUE(QRegularExpression("^Sub_\\d{8}_\\d{4}$").match(dated.name).hasMatch())
        << dated.name.toStdString();

    writeFile(m_dir.filePath("Home Config.yml"), kProfile);
    const ProfileNode local = await(m_store.importLocal(m_dir.filePath("Home Config.yml")));
    EXPECT_EQ(local.name, "Home Config");
    EXPECT_EQ(local.fileName, "Home Config.yaml");
    EXPECT_EQ(local.type, ProfileType::Local);
    EXPECT_EQ(await(m_store.listProfiles()).size(), 5);
}

TEST_F(ProfileStoreTest, FailedImportsChangeNothing)
{
    await(m_store.importRemote(url("/sub"), "Existing", std::nullopt));
    expectFailure(m_store.importRemote(url("/missing"), "X", std::nullopt), "HTTP Error: 404 from 127.0.0.1");
    expectFailure(m_store.importRemote(url("/comments"), "X", std::nullopt),
                  "Subscription YAML is empty or contains only comments.");
    expectFailure(m_store.importRemote(url("/list"), "X", std::nullopt),
                  "Subscription YAML root is not a mapping (expected key-value pairs).");
    m_store.downloader().setTimeout(300ms);
    expectFailure(m_store.importRemote(url("/silent"), "X", std::nullopt), "The request timed out.");

    writeFile(m_dir.filePath("broken.yaml"), "proxies: [unclosed\n");
    expectFailure(m_store.importLocal(m_dir.filePath("broken.yaml")),
                  "1:10: scanner error: unterminated flow sequence");
}

TEST_F(ProfileStoreTest, UpdateRemoteReplacesContentInPlace)
{
    const ProfileNode node = await(m_store.importRemote(url("/sub"), "Work", std::nullopt));
    const ProfileNode edited = await(m_store.updateMetadata(node.id, url("/v2"), "Renamed Only", 60.0));
    EXPECT_EQ(edited.fileName, "Work.yaml");
    const ProfileNode updated = await(m_store.updateRemote(node.id));
    EXPECT_EQ(updated.name, "Renamed Only");
    EXPECT_EQ(updated.updateInterval, 60.0);
    EXPECT_GE(*updated.lastUpdated, *node.lastUpdated);
    EXPECT_EQ(readFile(profiles() + "Work.yaml").toUtf8(), kProfileV2);
    EXPECT_EQ(await(m_store.nodes()), QList<ProfileNode>{updated});

    // A failed refresh keeps the previous content.
    await(m_store.updateMetadata(node.id, url("/comments"), "Work", std::nullopt));
    expectFailure(m_store.updateRemote(node.id), "Subscription YAML is empty or contains only comments.");

    writeFile(profiles() + "Local.yaml", kProfile);
    const ProfileNode local = *await(m_store.nodes()).rbegin();
    expectFailure(m_store.updateRemote(local.id), "Profile is not a remote subscription");
    expectFailure(m_store.updateRemote("no-such-id"), "Profile not found");
}

TEST_F(ProfileStoreTest, RenameAndDelete)
{
    const ProfileNode sub = await(m_store.importRemote(url("/sub"), "Sub", std::nullopt));
    writeFile(profiles() + "Home.yaml", kProfile);
    writeFile(profiles() + "Taken.yaml", kProfile);
    await(m_store.toggleMountSubscription("Home.yaml", sub.fileName, true));

    EXPECT_EQ(await(m_store.rename(sub.id, "Sub")), "Sub.yaml");
    EXPECT_EQ(await(m_store.rename(sub.id, "Taken")), "Taken (1).yaml");
    EXPECT_FALSE(QFileInfo::exists(profiles() + "Sub.yaml"));
    const QList<ProfileNode> nodes = await(m_store.nodes());
    const auto renamed =
        std::find_if(nodes.begin(), nodes.end(), [&](const ProfileNode& n) { return n.id == sub.id; });
    ASSERT_NE(renamed, nodes.end());
    EXPECT_EQ(renamed->name, "Taken");
    EXPECT_EQ(renamed->fileName, "Taken (1).yaml");
    EXPECT_EQ(nodes.size(), 3);

    await(m_store.toggleMountSubscription("Home.yaml", "Taken (1).yaml", true));
    await(m_store.remove(sub.id));
    EXPECT_FALSE(QFileInfo::exists(profiles() + "Taken (1).yaml"));
    EXPECT_EQ(await(m_store.nodes()).size(), 2);
    // Its mounts and its quota record went with it.
    EXPECT_EQ(await(m_store.getMountedSubscriptions("Home.yaml")), QStringList{"Sub.yaml"});
    EXPECT_TRUE(m_subscriptions.ledger().isEmpty());
    expectFailure(m_store.remove(sub.id), "Profile not found");
}

TEST_F(ProfileStoreTest, SyncToRuntimeCompilesWithMountsAndSettings)
{
    expectFailure(m_store.syncToRuntime("Nope.yaml"), "Profile not found in profiles directory: Nope.yaml");

    const ProfileNode sub = await(m_store.importRemote(url("/sub"), "Airport", std::nullopt));
    writeFile(profiles() + "Offline Sub.yaml", kProfileV2);
    writeFile(profiles() + "Home.yaml", kProfile);
    await(m_store.toggleMountSubscription("Home.yaml", sub.fileName, true));
    await(m_store.toggleMountSubscription("Home.yaml", "Offline Sub.yaml", true));
    m_settings.setInteger("mixedPort", 7999);

    await(m_store.syncToRuntime("Home.yaml"));
    const NativeValue config = NativeValue::fromJson(readFile(m_paths.runtimeConfigFile()).toUtf8());
    EXPECT_EQ(config.value("mixed-port"), NativeValue(7999));
    const NativeValue& providers = config.value("proxy-providers");
    EXPECT_EQ(providers.value("Airport").value("url"), NativeValue(url("/sub")));
    EXPECT_EQ(providers.value("Offline Sub").value("type"), NativeValue("file"));
    EXPECT_EQ(readFile(m_paths.workDirectory() + "providers/Airport.yaml").toUtf8(), kProfile);
    EXPECT_EQ(readFile(m_paths.workDirectory() + "providers/Offline Sub.yaml").toUtf8(), kProfileV2);
}

namespace {

QCoro::Task<> logWhenDone(QCoro::Task<QString> task, std::shared_ptr<QStringList> log, QString label)
{
    try {
        co_await std::move(task);
        log->append(label);
    } catch (const std::exception& e) {
        log->append(label + " failed: " + describe(e));
    }
}

QCoro::Task<QString> nameOf(QCoro::Task<ProfileNode> task)
{
    const ProfileNode node = co_await std::move(task);
    co_return node.fileName;
}

} // namespace

TEST_F(ProfileStoreTest, OperationsNeverInterleave)
{
    const ProfileNode node = await(m_store.importRemote(url("/sub"), "Work", std::nullopt));
    await(m_store.updateMetadata(node.id, url("/gated"), "Work", std::nullopt));

    // The refresh waits for the server while holding the store; the rename queued behind it must not
    // move the file in the meantime.
    auto log = std::make_shared<QStringList>();
    logWhenDone(nameOf(m_store.updateRemote(node.id)), log, "update");
    logWhenDone(m_store.rename(node.id, "Moved"), log, "rename");
    ASSERT_TRUE(waitFor([&] { return m_server.requests().size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(log->isEmpty());
    EXPECT_TRUE(QFileInfo::exists(profiles() + "Work.yaml"));

    m_gate.release();
    ASSERT_TRUE(waitFor([&] { return log->size() == 2; }));
    EXPECT_EQ(*log, (QStringList{"update", "rename"}));
    EXPECT_EQ(readFile(profiles() + "Moved.yaml").toUtf8(), kProfileV2);
    EXPECT_EQ(await(m_store.nodes()).size(), 1);
}

namespace {

// The supervisor's side of an activation: records when it was asked to restart and what the runtime
// configuration held at that moment.
class RecordingRestarter final : public KernelRestarter
{
public:
    explicit RecordingRestarter(QString runtimeConfig) : m_runtimeConfig(std::move(runtimeConfig)) {}
    QCoro::Task<qint32> restart() override
    {
        configsSeen.append(readFile(m_runtimeConfig));
        co_return 4242;
    }
    QStringList configsSeen;

private:
    QString m_runtimeConfig;
};

} // namespace

TEST_F(ProfileStoreTest, ActivateCompilesThenRestartsTheKernel)
{
    RecordingRestarter restarter(m_paths.runtimeConfigFile());
    ProfileStore store(m_paths, m_settings, nullptr, &restarter);
    writeFile(profiles() + "Home.yaml", kProfile);

    EXPECT_EQ(await(store.activate("Home.yaml")), 4242);
    ASSERT_EQ(restarter.configsSeen.size(), 1);
    EXPECT_TRUE(restarter.configsSeen.first().contains("\"MATCH,G\""));

    // A profile that is gone restarts nothing and leaves the runtime configuration as it was.
    expectFailure(store.activate("Gone.yaml"), "Profile not found in profiles directory: Gone.yaml");
    EXPECT_EQ(restarter.configsSeen.size(), 1);
}
