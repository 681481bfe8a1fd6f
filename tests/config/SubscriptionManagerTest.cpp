#include "config/SubscriptionManager.h"

#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

class SubscriptionManagerTest : public ::testing::Test
{
protected:
    QString ledgerPath() const { return m_dir.filePath("profiles/subscription_ledger.json"); }

    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath("settings.ini")};
};

} // namespace

TEST_F(SubscriptionManagerTest, HeadRefreshUpdatesTheLedgerFile)
{
    TestHttpServer server([](const HttpRequest& request) {
        HttpResponse response;
        if (request.path == "/good")
            response.headers = {
                {"SUBSCRIPTION-USERINFO", "upload=1; download=2; total=3000000000000; expire=4"}};
        else
            response.headers = {{"subscription-userinfo", "nonsense"}};
        return response;
    });
    const QString good = server.url("/good");
    {
        SubscriptionManager manager(ledgerPath(), m_settings);
        QSignalSpy changed(&manager, &SubscriptionManager::ledgerChanged);
        await(manager.fetch(good));
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(manager.ledger().value(good), (SubscriptionInfo{1, 2, 3000000000000, 4}));
        // A header that does not parse leaves the record alone.
        await(manager.fetch(server.url("/bad")));
        EXPECT_EQ(manager.ledger().size(), 1);
    }
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[0].method, "HEAD");

    const QString expected = QStringLiteral(R"({
  "%1": {
    "download": 2,
    "expire": 4,
    "total": 3000000000000,
    "upload": 1
  }
})")
                                 .arg(good);
    EXPECT_EQ(readFile(ledgerPath()), expected);
    // Loaded again at creation.
    SubscriptionManager reloaded(ledgerPath(), m_settings);
    EXPECT_EQ(reloaded.ledger().value(good), (SubscriptionInfo{1, 2, 3000000000000, 4}));
}

TEST_F(SubscriptionManagerTest, FailedRefreshIsPrintedAndChangesNothing)
{
    const QString url = QStringLiteral("http://127.0.0.1:%1/sub").arg(freePort());
    SubscriptionManager::write(ledgerPath(), {{url, SubscriptionInfo{7, 7, 7, 7}}});
    const QString before = readFile(ledgerPath());
    SubscriptionManager manager(ledgerPath(), m_settings);

    testing::internal::CaptureStdout();
    await(manager.fetch(url));
    const QString printed = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_EQ(printed,
              QStringLiteral("⚠️ [SubscriptionManager] Failed to fetch subscription info for %1: "
                             "Connection refused\n")
                  .arg(url));
    EXPECT_EQ(manager.ledger().value(url), (SubscriptionInfo{7, 7, 7, 7}));
    EXPECT_EQ(readFile(ledgerPath()), before);
}

TEST_F(SubscriptionManagerTest, PruneRemovesOnlyOrphans)
{
    const QString a = "https://a.example/sub";
    const QString b = "https://b.example/sub";
    SubscriptionManager::write(ledgerPath(),
                               {{a, SubscriptionInfo{1, 0, 0, 0}}, {b, SubscriptionInfo{2, 0, 0, 0}}});
    SubscriptionManager manager(ledgerPath(), m_settings);

    testing::internal::CaptureStdout();
    manager.prune({a, b});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    testing::internal::CaptureStdout();
    manager.prune({b, "https://c.example/never-recorded"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "🧹 [SubscriptionManager] GC cleared 1 orphaned records.\n");
    EXPECT_EQ(SubscriptionManager::read(ledgerPath()).keys(), QStringList{b});
}

TEST_F(SubscriptionManagerTest, UnreadableLedgerStartsEmpty)
{
    writeFile(ledgerPath(), "{ not json");
    SubscriptionManager manager(ledgerPath(), m_settings);
    EXPECT_TRUE(manager.ledger().isEmpty());
}
