#include "app/AppUpdateFlow.h"

#include "app/HelperClient.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace std::chrono_literals;
using Asset = test::ReleaseFeedServer::Asset;

namespace {

const QString kRepository = QStringLiteral("publisher/Tarnwick");

// A zip with the given entries (name → bytes), names taken as they are, "../" included.
QByteArray zipOf(const QList<std::pair<QString, QByteArray>>& entries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.zip");
    QStringList arguments{"-c",
                          QStringLiteral("import sys, zipfile\n"
                                         "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                                         "for i in range(2, len(sys.argv), 2):\n"
                                         "    info = zipfile.ZipInfo(sys.argv[i])\n"
                                         "    info.external_attr = 0o755 << 16\n"
                                         "    z.writestr(info, open(sys.argv[i + 1], 'rb').read())\n"),
                          path};
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString content = dir.filePath(QString::number(i));
        test::writeFile(content, entries[i].second);
        arguments << entries[i].first << content;
    }
    QProcess python;
    python.start("python3", arguments);
    python.waitForFinished(30000);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QCoro::Task<> nothingToClean()
{
    co_return;
}

// Every file below a directory with its bytes.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files.insert(QDir(root).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
}

class AppUpdateFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previousHome = qgetenv("HOME");
        m_previousTemp = qgetenv("TMPDIR");
        qputenv("HOME", m_home.path().toUtf8());
        // A failed update leaves its download for the system to clean up: here, with this test's directory.
        qputenv("TMPDIR", m_temp.path().toUtf8());
        m_settings = std::make_unique<Settings>(m_home.filePath("settings.ini"));
        m_settings->setText("releases.apiBaseURL", m_feed.apiBase());
        m_settings->setText("update.repository", kRepository);
        HelperRegistration::Options options;
        options.socketPath = m_home.filePath("no-helper.sock");
        options.systemctl = "/bin/false";
        m_helper = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});
    }
    void TearDown() override
    {
        qputenv("HOME", m_previousHome);
        if (m_previousTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_previousTemp);
    }

    // An installed bundle of version 0.1.0 at `path`.
    static void installBundle(const QString& path)
    {
        test::writeFile(path + "/share/tarnwick/Info.ini", "ShortVersion=0.1.0\nBuild=3\n");
        test::writeFile(path + "/bin/tarnwick-app", "#!/bin/sh\necho old\n");
        QFile(path + "/bin/tarnwick-app").setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }

    std::unique_ptr<AppUpdateFlow> makeFlow(const QString& bundlePath)
    {
        AppUpdateFlow::Hooks hooks{[this] {
                                       ++m_cleanups;
                                       return nothingToClean();
                                   },
                                   [this] { ++m_terminations; }};
        return std::make_unique<AppUpdateFlow>(*m_settings, *m_helper, AppBundle(bundlePath), hooks);
    }

    QTemporaryDir m_home;
    QTemporaryDir m_temp;
    QByteArray m_previousHome;
    QByteArray m_previousTemp;
    test::ReleaseFeedServer m_feed;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<HelperClient> m_helper;
    int m_cleanups = 0;
    int m_terminations = 0;
};

} // namespace

// Manual and automatic checks: the throttle, the phases and what is remembered.
TEST_F(AppUpdateFlowTest, ChecksAreThrottledOnlyWhenAutomatic)
{
    const QString bundle = m_home.filePath("Applications/Tarnwick");
    installBundle(bundle);
    m_feed.publish(kRepository, "v0.2.0", false, {Asset{"Tarnwick-0.2.0-linux-amd64.zip", "zip", -1, 200}});
    const auto flow = makeFlow(bundle);
    int windows = 0;
    QObject::connect(flow.get(), &AppUpdateFlow::updateWindowRequested, [&] { ++windows; });

    test::await(flow->check(true));
    ASSERT_EQ(flow->phase().kind, AppUpdatePhase::Kind::result);
    EXPECT_EQ(flow->phase().result->kind, AppUpdateResult::Kind::available);
    EXPECT_EQ(flow->phase().result->currentVersion, "0.1.0");
    EXPECT_EQ(flow->phase().result->latest, "0.2.0");
    EXPECT_EQ(windows, 0);
    const QDateTime last = *m_settings->date(AppUpdateFlow::lastCheckKey);
    EXPECT_LE(last.secsTo(QDateTime::currentDateTimeUtc()), 5);

    // Ten minutes after the last check an automatic one does nothing; a manual one always runs.
    m_settings->setDate(AppUpdateFlow::lastCheckKey, QDateTime::currentDateTimeUtc().addSecs(-600));
    const int requests = m_feed.requestCount("/repos/");
    test::await(flow->check(true));
    EXPECT_EQ(m_feed.requestCount("/repos/"), requests);
    m_settings->setBoolean(AppUpdateFlow::includeAlphaKey, true);
    test::await(flow->check(false));
    EXPECT_EQ(m_feed.requestCount("/repos/"), requests + 1);
    EXPECT_EQ(windows, 1);
    // The alpha check asks for the rolling release, which this feed does not have.
    EXPECT_EQ(flow->phase(), AppUpdatePhase::withResult(AppUpdateResult::upToDate("Alpha (Build 3)")));

    m_settings->setText("releases.apiBaseURL", QStringLiteral("http://127.0.0.1:%1").arg(test::freePort()));
    test::await(flow->check(false));
    EXPECT_EQ(flow->phase(), AppUpdatePhase::failed("Connection refused"));
}

// Every update that cannot go through says why and leaves the installed application as it was.
TEST_F(AppUpdateFlowTest, RefusedUpdatesLeaveTheInstalledBundle)
{
    const QString bundle = m_home.filePath("Applications/Tarnwick");
    installBundle(bundle);
    const QMap<QString, QByteArray> before = snapshot(m_home.path());
    const QByteArray app = "#!/bin/sh\necho new\n";
    const QByteArray info = "ShortVersion=0.2.0\n";
    m_feed.publish(
        kRepository, "v0.2.0", false,
        {Asset{"gone.zip", {}, -1, 404}, Asset{"not-a-zip.zip", "PK but not really", -1, 200},
         Asset{"no-bundle.zip",
               zipOf({{"Tarnwick-0.2.0/README", "no executables here"}, {"notes.txt", "text"}}), -1, 200},
         Asset{"escaping.zip",
               zipOf({{"Tarnwick-0.2.0/bin/tarnwick-app", app},
                      {"../../Applications/Tarnwick/bin/tarnwick-app", app},
                      {"Tarnwick-0.2.0/share/tarnwick/Info.ini", info}}),
               -1, 200},
         Asset{"half.zip", "PK\x03\x04", 100000, 200}});
    const auto url = [&](const char* name) {
        return m_feed.apiBase() + "/download/publisher/Tarnwick/v0.2.0/" + QLatin1String(name);
    };

    const QList<std::tuple<QString, QString, QString>> cases = {
        {bundle, "not a URL", "Invalid download URL"},
        {bundle, QString(), "Invalid download URL"},
        {m_home.filePath("Downloads/Tarnwick"), url("no-bundle.zip"),
         "Please move Tarnwick to the Applications folder before updating."},
        {"/usr", url("no-bundle.zip"), "Please move Tarnwick to the Applications folder before updating."},
        {bundle, url("gone.zip"), "Download failed."},
        {bundle, url("half.zip"), "Download failed."},
        {bundle, url("not-a-zip.zip"), "Failed to extract update package."},
        {bundle, url("no-bundle.zip"), "App bundle not found in update package."},
        {bundle, url("escaping.zip"), "Failed to extract update package."},
    };
    for (const auto& [bundlePath, downloadURL, expected] : cases) {
        SCOPED_TRACE(downloadURL.toStdString() + " from " + bundlePath.toStdString());
        const auto flow = makeFlow(bundlePath);
        test::await(flow->performUpdate(downloadURL));
        ASSERT_EQ(flow->phase().kind, AppUpdatePhase::Kind::failed);
        EXPECT_EQ(flow->phase().text, expected);
        EXPECT_FALSE(flow->isUpdating());
        EXPECT_EQ(snapshot(m_home.path()), before);
    }
    EXPECT_EQ(m_cleanups, 0);
    EXPECT_EQ(m_terminations, 0);
}
