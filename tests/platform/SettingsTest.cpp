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
    QString path() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
};

} // namespace

TEST_F(SettingsTest, NeverWrittenIsDistinctFromZeroAndEmpty)
{
    Settings settings(path());
    EXPECT_FALSE(settings.integer(QStringLiteral("apiPort")).has_value());
    EXPECT_FALSE(settings.text(QStringLiteral("apiSecret")).has_value());
    EXPECT_FALSE(settings.boolean(QStringLiteral("tunEnabled")).has_value());

    settings.setInteger(QStringLiteral("apiPort"), 0);
    settings.setText(QStringLiteral("apiSecret"), QString());
    settings.setBoolean(QStringLiteral("tunEnabled"), false);

    // A second instance reads the file, as another process would.
    Settings reread(path());
    EXPECT_EQ(reread.integer(QStringLiteral("apiPort")), 0);
    EXPECT_EQ(reread.text(QStringLiteral("apiSecret")), QString());
    EXPECT_EQ(reread.boolean(QStringLiteral("tunEnabled")), false);

    reread.remove(QStringLiteral("apiPort"));
    EXPECT_FALSE(settings.integer(QStringLiteral("apiPort")).has_value());
}

TEST_F(SettingsTest, RoundTripsEveryType)
{
    Settings settings(path());
    const QDateTime when =
        QDateTime::fromString(QStringLiteral("2026-03-01T10:20:30.456Z"), Qt::ISODateWithMs);
    settings.setDate(QStringLiteral("lastAppUpdateCheckDate"), when);
    settings.setInteger(QStringLiteral("dbRetentionDays"), -5);
    settings.setText(QStringLiteral("systemProxyBypass"), QStringLiteral("localhost, 127.0.0.1, *.local"));
    settings.setText(QStringLiteral("globalUA"), QStringLiteral("clash.meta/1.0 (日本語 ✓)"));
    settings.setBoolean(QStringLiteral("update.autoCheck"), true);

    Settings reread(path());
    EXPECT_EQ(reread.date(QStringLiteral("lastAppUpdateCheckDate")), when);
    EXPECT_EQ(reread.integer(QStringLiteral("dbRetentionDays")), -5);
    EXPECT_EQ(reread.text(QStringLiteral("systemProxyBypass")),
              QStringLiteral("localhost, 127.0.0.1, *.local"));
    EXPECT_EQ(reread.text(QStringLiteral("globalUA")), QStringLiteral("clash.meta/1.0 (日本語 ✓)"));
    EXPECT_EQ(reread.boolean(QStringLiteral("update.autoCheck")), true);
}

TEST_F(SettingsTest, WrongTypesFallBackToTheDefault)
{
    test::writeFile(path(), "[General]\napiPort=ninety\ntunEnabled=maybe\nlastAppUpdateCheckDate=yesterday\n"
                            "systemProxyBypass=localhost, *.local\n");
    Settings settings(path());
    EXPECT_FALSE(settings.integer(QStringLiteral("apiPort")).has_value());
    EXPECT_EQ(settings.integer(QStringLiteral("apiPort"), 9090), 9090);
    EXPECT_FALSE(settings.boolean(QStringLiteral("tunEnabled")).has_value());
    EXPECT_FALSE(settings.date(QStringLiteral("lastAppUpdateCheckDate")).has_value());
    // A hand-edited unquoted list still reads as the text the user typed.
    EXPECT_EQ(settings.text(QStringLiteral("systemProxyBypass")), QStringLiteral("localhost, *.local"));
}

TEST_F(SettingsTest, EveryWriteSignalsTheKey)
{
    Settings settings(path());
    QSignalSpy spy(&settings, &Settings::changed);
    settings.setInteger(QStringLiteral("mixedPort"), 7890);
    settings.setInteger(QStringLiteral("mixedPort"), 7890);
    settings.remove(QStringLiteral("mixedPort"));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(2).at(0).toString(), QStringLiteral("mixedPort"));
}

TEST_F(SettingsTest, UnreadableFileGivesDefaults)
{
    Settings settings(QStringLiteral("/proc/tarnwick-no-such-dir/settings.ini"));
    EXPECT_FALSE(settings.boolean(QStringLiteral("hasCompletedOnboarding")).has_value());
    // Logged, not thrown; the value holds for the rest of the session.
    settings.setBoolean(QStringLiteral("hasCompletedOnboarding"), true);
    EXPECT_EQ(settings.boolean(QStringLiteral("hasCompletedOnboarding")), true);
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
    Settings(path()).setText(QStringLiteral("apiSecret"), QStringLiteral("s3cret"));
    EXPECT_EQ(modeOf(path()), 0600u);
    const QString seen = user.run(QStringLiteral("cat"), {path()});
    EXPECT_FALSE(seen.contains(QStringLiteral("s3cret"))) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("Permission denied"))) << seen.toStdString();

    // One written before is tightened as soon as it is opened.
    const QString earlier = m_dir.filePath(QStringLiteral("earlier.ini"));
    test::writeFile(earlier, "[General]\napiSecret=s3cret\n");
    ASSERT_EQ(::chmod(QFile::encodeName(earlier).constData(), 0644), 0);
    const Settings opened(earlier);
    EXPECT_EQ(modeOf(earlier), 0600u);
}
