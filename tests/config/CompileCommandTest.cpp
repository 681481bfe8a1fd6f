#include "ConfigTestPrinters.h"
#include "config/yaml/NativeValue.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The real command-line tool, with its settings in a file of the test's own.
class CompileCommandTest : public ::testing::Test
{
protected:
    CliRun tarnwick(const QStringList& arguments) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARNWICK_SETTINGS"),
                           m_dir.filePath(QStringLiteral("settings.ini")));
        process.setProcessEnvironment(environment);
        process.start(binaryDir() + QStringLiteral("/bin/tarnwick"), arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(CompileCommandTest, PrintsOrWritesTheRuntimeConfiguration)
{
    writeFile(path("settings.ini"), "[General]\nmixedPort=7999\nquicBlockMode=off\n");
    writeFile(path("profile.yaml"), "mixed-port: 1\nproxies: []\nrules:\n  - DOMAIN,a.example/x,DIRECT\n");

    const CliRun printed = tarnwick({QStringLiteral("compile"), path("profile.yaml")});
    ASSERT_EQ(printed.exitCode, 0) << printed.err.toStdString();
    EXPECT_TRUE(printed.err.isEmpty());
    const NativeValue config = NativeValue::fromJson(printed.out);
    EXPECT_EQ(config.value(QStringLiteral("mixed-port")), NativeValue(7999));
    EXPECT_EQ(config.value(QStringLiteral("rules")),
              NativeValue(NativeValue::Array{"DOMAIN,a.example/x,DIRECT"}));

    const CliRun written = tarnwick(
        {QStringLiteral("compile"), path("profile.yaml"), QStringLiteral("-o"), path("out/config.json")});
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.isEmpty());
    EXPECT_EQ(readFile(path("out/config.json")).toUtf8() + '\n', printed.out);
}

TEST_F(CompileCommandTest, FailuresAreReportedAndWriteNothing)
{
    writeFile(path("comments.yaml"), "# nothing here\n");
    writeFile(path("out.json"), "previous");
    const CliRun failed =
        tarnwick({QStringLiteral("compile"), path("comments.yaml"), QStringLiteral("-o"), path("out.json")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "Subscription YAML is empty or contains only comments.\n");
    EXPECT_EQ(readFile(path("out.json")), QStringLiteral("previous"));

    const CliRun missing = tarnwick({QStringLiteral("compile"), path("absent.yaml")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.startsWith("Could not read " + path("absent.yaml").toUtf8()))
        << missing.err.toStdString();

    for (const QStringList& bad :
         {QStringList{QStringLiteral("compile")},
          QStringList{QStringLiteral("compile"), QStringLiteral("a.yaml"), QStringLiteral("-o")},
          QStringList{QStringLiteral("compile"), QStringLiteral("a.yaml"), QStringLiteral("b.yaml")}}) {
        const CliRun usage = tarnwick(bad);
        EXPECT_EQ(usage.exitCode, 2);
        EXPECT_EQ(usage.err, "usage: tarnwick compile PROFILE [-o FILE]\n");
    }
}
