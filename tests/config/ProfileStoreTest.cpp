#include "config/ProfileStore.h"

#include "config/ConfigCompiler.h"
#include "config/KernelRestarter.h"
#include "config/ProfileDownloader.h"
#include "config/SubscriptionManager.h"
#include "config/yaml/YAMLError.h"
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
          m_subscriptions(m_paths.profilesDirectory() + QStringLiteral("subscription_ledger.json"),
                          m_settings),
          m_store(m_paths, m_settings, &m_subscriptions)
    {
        m_paths.prepare();
    }
    // A test that fails half-way must not leave the server thread blocked.
    ~ProfileStoreTest() override { m_gate.release(100); }

    HttpResponse respond(const HttpRequest& request)
    {
        HttpResponse response;
        if (request.path == "/missing") {
            response.status = 404;
        } else if (request.path == "/comments") {
            response.body = "# nothing but a comment\n\n";
        } else if (request.path == "/list") {
            response.body = "- just\n- a list\n";
        } else if (request.path == "/silent") {
            response.neverAnswer = true;
        } else if (request.path == "/v2") {
            response.body = kProfileV2;
        } else if (request.path == "/gated") {
            m_gate.acquire();
            response.body = kProfileV2;
        } else {
            response.headers = {{"subscription-userinfo", "upload=1; download=2; total=30; expire=40"},
                                {"content-disposition", "attachment; filename=\"Provider Name.yaml\""}};
            response.body = kProfile;
        }
        return response;
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
    ClashPaths m_paths{m_dir.path() + QStringLiteral("/")};
    Settings m_settings{m_dir.filePath(QStringLiteral("settings.ini"))};
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
    EXPECT_EQ(node.name, QStringLiteral("Provider Name"));
    EXPECT_EQ(node.fileName, QStringLiteral("Provider Name.yaml"));
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
    EXPECT_EQ(await(m_store.importRemote(url("/sub"), QStringLiteral("Work"), std::nullopt)).fileName,
              QStringLiteral("Work.yaml"));
    EXPECT_EQ(await(m_store.importRemote(url("/sub"), QStringLiteral("Work"), std::nullopt)).fileName,
              QStringLiteral("Work (1).yaml"));
    const ProfileNode odd = await(m_store.importRemote(url("/v2"), QStringLiteral("a/b:c"), std::nullopt));
    EXPECT_EQ(odd.fileName, QStringLiteral("a-b-c.yaml"));
    EXPECT_EQ(odd.name, QStringLiteral("a/b:c"));

    // Neither a given name nor a suggested one: a dated name.
    const ProfileNode dated = await(m_store.importRemote(url("/v2"), QString(), std::nullopt));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Sub_\\d{8}_\\d{4}$")).match(dated.name).hasMatch())
        << dated.name.toStdString();

    writeFile(m_dir.filePath(QStringLiteral("Home Config.yml")), kProfile);
    const ProfileNode local = await(m_store.importLocal(m_dir.filePath(QStringLiteral("Home Config.yml"))));
    EXPECT_EQ(local.name, QStringLiteral("Home Config"));
    EXPECT_EQ(local.fileName, QStringLiteral("Home Config.yaml"));
    EXPECT_EQ(local.type, ProfileType::Local);
    EXPECT_EQ(await(m_store.listProfiles()).size(), 5);
}

TEST_F(ProfileStoreTest, FailedImportsChangeNothing)
{
    await(m_store.importRemote(url("/sub"), QStringLiteral("Existing"), std::nullopt));
    expectFailure(m_store.importRemote(url("/missing"), QStringLiteral("X"), std::nullopt),
                  QStringLiteral("HTTP Error: 404 from 127.0.0.1"));
    expectFailure(m_store.importRemote(url("/comments"), QStringLiteral("X"), std::nullopt),
                  QStringLiteral("Subscription YAML is empty or contains only comments."));
    expectFailure(m_store.importRemote(url("/list"), QStringLiteral("X"), std::nullopt),
                  QStringLiteral("Subscription YAML root is not a mapping (expected key-value pairs)."));
    m_store.downloader().setTimeout(300ms);
    expectFailure(m_store.importRemote(url("/silent"), QStringLiteral("X"), std::nullopt),
                  QStringLiteral("The request timed out."));

    writeFile(m_dir.filePath(QStringLiteral("broken.yaml")), "proxies: [unclosed\n");
    const auto before = snapshot(m_paths.applicationSupportDirectory());
    EXPECT_THROW(await(m_store.importLocal(m_dir.filePath(QStringLiteral("broken.yaml")))), YAMLError);
    EXPECT_EQ(snapshot(m_paths.applicationSupportDirectory()), before);
}

TEST_F(ProfileStoreTest, UpdateRemoteReplacesContentInPlace)
{
    const ProfileNode node = await(m_store.importRemote(url("/sub"), QStringLiteral("Work"), std::nullopt));
    const ProfileNode edited =
        await(m_store.updateMetadata(node.id, url("/v2"), QStringLiteral("Renamed Only"), 60.0));
    EXPECT_EQ(edited.fileName, QStringLiteral("Work.yaml"));
    const ProfileNode updated = await(m_store.updateRemote(node.id));
    EXPECT_EQ(updated.name, QStringLiteral("Renamed Only"));
    EXPECT_EQ(updated.updateInterval, 60.0);
    EXPECT_GE(*updated.lastUpdated, *node.lastUpdated);
    EXPECT_EQ(readFile(profiles() + QStringLiteral("Work.yaml")).toUtf8(), kProfileV2);
    EXPECT_EQ(await(m_store.nodes()), QList<ProfileNode>{updated});

    // A failed refresh keeps the previous content.
    await(m_store.updateMetadata(node.id, url("/comments"), QStringLiteral("Work"), std::nullopt));
    expectFailure(m_store.updateRemote(node.id),
                  QStringLiteral("Subscription YAML is empty or contains only comments."));

    writeFile(profiles() + QStringLiteral("Local.yaml"), kProfile);
    const ProfileNode local = *await(m_store.nodes()).rbegin();
    expectFailure(m_store.updateRemote(local.id), QStringLiteral("Profile is not a remote subscription"));
    expectFailure(m_store.updateRemote(QStringLiteral("no-such-id")), QStringLiteral("Profile not found"));
}

TEST_F(ProfileStoreTest, RenameAndDelete)
{
    const ProfileNode sub = await(m_store.importRemote(url("/sub"), QStringLiteral("Sub"), std::nullopt));
    writeFile(profiles() + QStringLiteral("Home.yaml"), kProfile);
    writeFile(profiles() + QStringLiteral("Taken.yaml"), kProfile);
    await(m_store.toggleMountSubscription(QStringLiteral("Home.yaml"), sub.fileName, true));

    EXPECT_EQ(await(m_store.rename(sub.id, QStringLiteral("Sub"))), QStringLiteral("Sub.yaml"));
    EXPECT_EQ(await(m_store.rename(sub.id, QStringLiteral("Taken"))), QStringLiteral("Taken (1).yaml"));
    EXPECT_FALSE(QFileInfo::exists(profiles() + QStringLiteral("Sub.yaml")));
    const QList<ProfileNode> nodes = await(m_store.nodes());
    const auto renamed =
        std::find_if(nodes.begin(), nodes.end(), [&](const ProfileNode& n) { return n.id == sub.id; });
    ASSERT_NE(renamed, nodes.end());
    EXPECT_EQ(renamed->name, QStringLiteral("Taken"));
    EXPECT_EQ(renamed->fileName, QStringLiteral("Taken (1).yaml"));
    EXPECT_EQ(nodes.size(), 3);

    await(
        m_store.toggleMountSubscription(QStringLiteral("Home.yaml"), QStringLiteral("Taken (1).yaml"), true));
    await(m_store.remove(sub.id));
    EXPECT_FALSE(QFileInfo::exists(profiles() + QStringLiteral("Taken (1).yaml")));
    EXPECT_EQ(await(m_store.nodes()).size(), 2);
    // Its mounts and its quota record went with it.
    EXPECT_EQ(await(m_store.getMountedSubscriptions(QStringLiteral("Home.yaml"))),
              QStringList{QStringLiteral("Sub.yaml")});
    EXPECT_TRUE(m_subscriptions.ledger().isEmpty());
    expectFailure(m_store.remove(sub.id), QStringLiteral("Profile not found"));
}

TEST_F(ProfileStoreTest, SyncToRuntimeCompilesWithMountsAndSettings)
{
    expectFailure(m_store.syncToRuntime(QStringLiteral("Nope.yaml")),
                  QStringLiteral("Profile not found in profiles directory: Nope.yaml"));

    const ProfileNode sub = await(m_store.importRemote(url("/sub"), QStringLiteral("Airport"), std::nullopt));
    writeFile(profiles() + QStringLiteral("Offline Sub.yaml"), kProfileV2);
    writeFile(profiles() + QStringLiteral("Home.yaml"), kProfile);
    await(m_store.toggleMountSubscription(QStringLiteral("Home.yaml"), sub.fileName, true));
    await(m_store.toggleMountSubscription(QStringLiteral("Home.yaml"), QStringLiteral("Offline Sub.yaml"),
                                          true));
    m_settings.setInteger(QStringLiteral("mixedPort"), 7999);

    await(m_store.syncToRuntime(QStringLiteral("Home.yaml")));
    const NativeValue config = NativeValue::fromJson(readFile(m_paths.runtimeConfigFile()).toUtf8());
    EXPECT_EQ(config.value(QStringLiteral("mixed-port")), NativeValue(7999));
    const NativeValue& providers = config.value(QStringLiteral("proxy-providers"));
    EXPECT_EQ(providers.value(QStringLiteral("Airport")).value(QStringLiteral("url")),
              NativeValue(url("/sub")));
    EXPECT_EQ(providers.value(QStringLiteral("Offline Sub")).value(QStringLiteral("type")),
              NativeValue("file"));
    EXPECT_EQ(readFile(m_paths.workDirectory() + QStringLiteral("providers/Airport.yaml")).toUtf8(),
              kProfile);
    EXPECT_EQ(readFile(m_paths.workDirectory() + QStringLiteral("providers/Offline Sub.yaml")).toUtf8(),
              kProfileV2);
}

namespace {

QCoro::Task<> logWhenDone(QCoro::Task<QString> task, std::shared_ptr<QStringList> log, QString label)
{
    try {
        co_await std::move(task);
        log->append(label);
    } catch (const std::exception& e) {
        log->append(label + QStringLiteral(" failed: ") + describe(e));
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
    const ProfileNode node = await(m_store.importRemote(url("/sub"), QStringLiteral("Work"), std::nullopt));
    await(m_store.updateMetadata(node.id, url("/gated"), QStringLiteral("Work"), std::nullopt));

    // The refresh waits for the server while holding the store; the rename queued behind it must not
    // move the file in the meantime.
    auto log = std::make_shared<QStringList>();
    logWhenDone(nameOf(m_store.updateRemote(node.id)), log, QStringLiteral("update"));
    logWhenDone(m_store.rename(node.id, QStringLiteral("Moved")), log, QStringLiteral("rename"));
    ASSERT_TRUE(waitFor([&] { return m_server.requests().size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(log->isEmpty());
    EXPECT_TRUE(QFileInfo::exists(profiles() + QStringLiteral("Work.yaml")));

    m_gate.release();
    ASSERT_TRUE(waitFor([&] { return log->size() == 2; }));
    EXPECT_EQ(*log, (QStringList{QStringLiteral("update"), QStringLiteral("rename")}));
    EXPECT_EQ(readFile(profiles() + QStringLiteral("Moved.yaml")).toUtf8(), kProfileV2);
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
    writeFile(profiles() + QStringLiteral("Home.yaml"), kProfile);

    EXPECT_EQ(await(store.activate(QStringLiteral("Home.yaml"))), 4242);
    ASSERT_EQ(restarter.configsSeen.size(), 1);
    EXPECT_TRUE(restarter.configsSeen.first().contains(QStringLiteral("\"MATCH,G\"")));

    // A profile that is gone restarts nothing and leaves the runtime configuration as it was.
    expectFailure(store.activate(QStringLiteral("Gone.yaml")),
                  QStringLiteral("Profile not found in profiles directory: Gone.yaml"));
    EXPECT_EQ(restarter.configsSeen.size(), 1);
}
