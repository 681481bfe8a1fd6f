#include "config/ClashPaths.h"

#include "config/WorkspaceError.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

using namespace tarnwick;

TEST(ClashPathsTest, MembersAreExactPathsBelowTheRoot)
{
    const ClashPaths paths(QStringLiteral("/srv/ws"));
    EXPECT_EQ(paths.applicationSupportDirectory(), QStringLiteral("/srv/ws/"));
    EXPECT_EQ(paths.profilesDirectory(), QStringLiteral("/srv/ws/profiles/"));
    EXPECT_EQ(paths.databaseDirectory(), QStringLiteral("/srv/ws/Database/"));
    EXPECT_EQ(paths.versionsDirectory(), QStringLiteral("/srv/ws/core/versions/"));
    EXPECT_EQ(paths.runtimeConfigFile(), QStringLiteral("/srv/ws/work/config.json"));
    EXPECT_EQ(paths.coreLogFile(), QStringLiteral("/srv/ws/logs/core.log"));
    EXPECT_EQ(paths.managedCoreExecutable(), QStringLiteral("/srv/ws/core/current"));
}

TEST(ClashPathsTest, GivenRootIsUsedAsIsAndPrepareIsRepeatable)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("nested/ws"));
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
    const QString root = dir.filePath(QStringLiteral("ws"));
    QDir().mkpath(root + QStringLiteral("/profiles"));
    test::writeFile(root + QStringLiteral("/work"), "not a directory");
    EXPECT_EQ(test::errorText<WorkspaceError>([&] { ClashPaths(root).prepare(); }),
              QStringLiteral("Could not create the directory %1/work: a file is in the way").arg(root));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/logs")));
}

// In the test's own XDG data directory.
TEST(ClashPathsTest, DefaultRootMovesTheLegacyWorkspace)
{
    const QDir dir(qEnvironmentVariable("XDG_DATA_HOME"));
    ASSERT_TRUE(dir.exists());
    test::writeFile(dir.filePath(QStringLiteral("tarnwick/profiles/Mine.yaml")), "rules: []\n");

    const ClashPaths paths;
    EXPECT_EQ(paths.applicationSupportDirectory(), dir.filePath(QStringLiteral("Tarnwick/")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("tarnwick"))));
    EXPECT_EQ(test::readFile(paths.profilesDirectory() + QStringLiteral("Mine.yaml")),
              QStringLiteral("rules: []\n"));

    // Both present: the move fails quietly and both stay.
    QDir().mkpath(dir.filePath(QStringLiteral("tarnwick/other")));
    const ClashPaths again;
    EXPECT_EQ(again.applicationSupportDirectory(), dir.filePath(QStringLiteral("Tarnwick/")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("tarnwick/other"))));
}

TEST(ClashPathsTest, SeedingNeverOverwrites)
{
    QTemporaryDir dir;
    const ClashPaths paths(dir.path());
    paths.prepare();
    const QString resource = dir.filePath(QStringLiteral("Default.yaml"));
    test::writeFile(resource, "mode: rule\n");

    paths.seedDefaultProfileIfNeeded(dir.filePath(QStringLiteral("absent.yaml")));
    EXPECT_FALSE(QFileInfo::exists(paths.profilesDirectory() + QStringLiteral("Default.yaml")));

    paths.seedDefaultProfileIfNeeded(resource);
    EXPECT_EQ(test::readFile(paths.profilesDirectory() + QStringLiteral("Default.yaml")),
              QStringLiteral("mode: rule\n"));

    test::writeFile(paths.profilesDirectory() + QStringLiteral("Default.yaml"), "edited by the user\n");
    paths.seedDefaultProfileIfNeeded(resource);
    EXPECT_EQ(test::readFile(paths.profilesDirectory() + QStringLiteral("Default.yaml")),
              QStringLiteral("edited by the user\n"));
}
