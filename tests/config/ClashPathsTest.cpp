#include "config/ClashPaths.h"

#include "config/WorkspaceError.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

using namespace tarnwick;

TEST(ClashPathsTest, MembersAreExactPathsBelowTheRoot)
{
    const ClashPaths paths("/srv/ws");
    EXPECT_EQ(paths.applicationSupportDirectory(), "/srv/ws/");
    EXPECT_EQ(paths.profilesDirectory(), "/srv/ws/profiles/");
    EXPECT_EQ(paths.databaseDirectory(), "/srv/ws/Database/");
    EXPECT_EQ(paths.versionsDirectory(), "/srv/ws/core/versions/");
    EXPECT_EQ(paths.runtimeConfigFile(), "/srv/ws/work/config.json");
    EXPECT_EQ(paths.coreLogFile(), "/srv/ws/logs/core.log");
    EXPECT_EQ(paths.managedCoreExecutable(), "/srv/ws/core/current");
}

TEST(ClashPathsTest, GivenRootIsUsedAsIsAndPrepareIsRepeatable)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("nested/ws");
    const ClashPaths paths(root);
    EXPECT_FALSE(QFileInfo::exists(root)); // nothing is created before prepare()
    paths.prepare();
    paths.prepare();
    for (const char* sub : {"profiles", "work", "logs", "Database", "core", "core/versions"})
        EXPECT_TRUE(QFileInfo(root + QLatin1Char('/') + QLatin1String(sub)).isDir()) << sub;
}

TEST(ClashPathsTest, PrepareReportsTheFirstFailure)
{
    QTemporaryDir dir;
    // A file where the work directory belongs.
    const QString root = dir.filePath("ws");
    QDir().mkpath(root + "/profiles");
    test::writeFile(root + "/work", "not a directory");
    EXPECT_EQ(test::errorText<WorkspaceError>([&] { ClashPaths(root).prepare(); }),
              QStringLiteral("Could not create the directory %1/work: a file is in the way").arg(root));
    EXPECT_FALSE(QFileInfo::exists(root + "/logs"));
}

// In the test's own XDG data directory.
TEST(ClashPathsTest, DefaultRootMovesTheLegacyWorkspace)
{
    const QDir dir(qEnvironmentVariable("XDG_DATA_HOME"));
    ASSERT_TRUE(dir.exists());
    test::writeFile(dir.filePath("tarnwick/profiles/Mine.yaml"), "rules: []\n");

    const ClashPaths paths;
    EXPECT_EQ(paths.applicationSupportDirectory(), dir.filePath("Tarnwick/"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("tarnwick")));
    EXPECT_EQ(test::readFile(paths.profilesDirectory() + "Mine.yaml"), "rules: []\n");

    // Both present: the move fails quietly and both stay.
    QDir().mkpath(dir.filePath("tarnwick/other"));
    const ClashPaths again;
    EXPECT_EQ(again.applicationSupportDirectory(), dir.filePath("Tarnwick/"));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("tarnwick/other")));
}

TEST(ClashPathsTest, SeedingNeverOverwrites)
{
    QTemporaryDir dir;
    const ClashPaths paths(dir.path());
    paths.prepare();
    const QString resource = dir.filePath("Default.yaml");
    test::writeFile(resource, "mode: rule\n");

    paths.seedDefaultProfileIfNeeded(dir.filePath("absent.yaml"));
    EXPECT_FALSE(QFileInfo::exists(paths.profilesDirectory() + "Default.yaml"));

    paths.seedDefaultProfileIfNeeded(resource);
    EXPECT_EQ(test::readFile(paths.profilesDirectory() + "Default.yaml"), "mode: rule\n");

    test::writeFile(paths.profilesDirectory() + "Default.yaml", "edited by the user\n");
    paths.seedDefaultProfileIfNeeded(resource);
    EXPECT_EQ(test::readFile(paths.profilesDirectory() + "Default.yaml"), "edited by the user\n");
}
