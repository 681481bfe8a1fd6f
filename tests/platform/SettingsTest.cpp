#include "platform/Settings.h"

#include "support/TestSupport.h"
#include "support/TestUser.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <sys/stat.h>

using namespace tarnwick;

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("settings.ini"); }
};

} // namespace

TEST_F(SettingsTest, EveryTypeRoundTripsAndNeverWrittenIsDistinctFromZeroAndEmpty)
{
    Settings settings(path());
    EXPECT_FALSE(settings.integer("apiPort").has_value());
    EXPECT_FALSE(settings.text("apiSecret").has_value());
    EXPECT_FALSE(settings.boolean("tunEnabled").has_value());
    const QDateTime when = QDateTime::fromString("2026-03-01T10:20:30.456Z", Qt::ISODateWithMs);
    settings.setInteger("apiPort", 0);
    settings.setText("apiSecret", QString());
    settings.setBoolean("tunEnabled", false);
    settings.setDate("lastAppUpdateCheckDate", when);
    settings.setInteger("dbRetentionDays", -5);
    settings.setText("systemProxyBypass", "localhost, 127.0.0.1, *.local");
    settings.setText("globalUA", "clash.meta/1.0 (日本語 ✓)");
    settings.setBoolean("update.autoCheck", true);

    // A second instance reads the file, as another process would.
    Settings reread(path());
    EXPECT_EQ(reread.integer("apiPort"), 0);
    EXPECT_EQ(reread.text("apiSecret"), QString());
    EXPECT_EQ(reread.boolean("tunEnabled"), false);
    EXPECT_EQ(reread.date("lastAppUpdateCheckDate"), when);
    EXPECT_EQ(reread.integer("dbRetentionDays"), -5);
    EXPECT_EQ(reread.text("systemProxyBypass"), "localhost, 127.0.0.1, *.local");
    EXPECT_EQ(reread.text("globalUA"), "clash.meta/1.0 (日本語 ✓)");
    EXPECT_EQ(reread.boolean("update.autoCheck"), true);

    reread.remove("apiPort");
    EXPECT_FALSE(settings.integer("apiPort").has_value());
}

TEST_F(SettingsTest, WrongTypesFallBackToTheDefault)
{
    test::writeFile(path(), "[General]\napiPort=ninety\ntunEnabled=maybe\nlastAppUpdateCheckDate=yesterday\n"
                            "systemProxyBypass=localhost, *.local\n");
    Settings settings(path());
    EXPECT_FALSE(settings.integer("apiPort").has_value());
    EXPECT_EQ(settings.integer("apiPort", 9090), 9090);
    EXPECT_FALSE(settings.boolean("tunEnabled").has_value());
    EXPECT_FALSE(settings.date("lastAppUpdateCheckDate").has_value());
    // A hand-edited unquoted list still reads as the text the user typed.
    EXPECT_EQ(settings.text("systemProxyBypass"), "localhost, *.local");
}

TEST_F(SettingsTest, EveryWriteSignalsTheKey)
{
    Settings settings(path());
    QSignalSpy spy(&settings, &Settings::changed);
    settings.setInteger("mixedPort", 7890);
    settings.setInteger("mixedPort", 7890);
    settings.remove("mixedPort");
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(2).at(0).toString(), "mixedPort");
}

TEST_F(SettingsTest, UnreadableFileGivesDefaults)
{
    Settings settings("/proc/tarnwick-no-such-dir/settings.ini");
    EXPECT_FALSE(settings.boolean("hasCompletedOnboarding").has_value());
    // Logged, not thrown; the value holds for the rest of the session.
    settings.setBoolean("hasCompletedOnboarding", true);
    EXPECT_EQ(settings.boolean("hasCompletedOnboarding"), true);
}

TEST_F(SettingsTest, OnlyItsUserCanReadTheFile)
{
    TARNWICK_REQUIRE_TEST_USER(user);
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    const auto modeOf = [](const QString& file) {
        struct stat info
        {};
        return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    Settings(path()).setText("apiSecret", "s3cret");
    EXPECT_EQ(modeOf(path()), 0600u);
    const QString seen = user.run("cat", {path()});
    EXPECT_FALSE(seen.contains("s3cret")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("Permission denied")) << seen.toStdString();

    // One written before is tightened as soon as it is opened.
    const QString earlier = m_dir.filePath("earlier.ini");
    test::writeFile(earlier, "[General]\napiSecret=s3cret\n");
    ASSERT_EQ(::chmod(QFile::encodeName(earlier).constData(), 0644), 0);
    const Settings opened(earlier);
    EXPECT_EQ(modeOf(earlier), 0600u);
}
