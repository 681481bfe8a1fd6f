#include "app/ConfigValidator.h"

#include "app/ConfigValidationError.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using namespace tarnwick;

namespace {

// The description validate() fails with, or "(no error)".
QString validationResult(const ConfigValidator& validator, const QString& config)
{
    return test::errorText<ConfigValidationError>(validator.validate(config));
}

const QString passed = "(no error)";

class ConfigValidatorTest : public ::testing::Test
{
protected:
    QString script(const QString& name, const QByteArray& body)
    {
        const QString path = m_dir.filePath(name);
        test::writeFile(path, "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString config()
    {
        const QString path = m_dir.filePath("config.json");
        if (!QFile::exists(path))
            test::writeFile(path, "{}");
        return path;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ConfigValidatorTest, MissingOrNonExecutableKernelFailsBeforeAnyProcess)
{
    const QString missing = m_dir.filePath("nothing-here");
    EXPECT_EQ(validationResult(ConfigValidator(missing, m_dir.path(), 10), config()),
              "mihomo binary not found at " + missing);

    const QString plain = m_dir.filePath("not-executable");
    test::writeFile(plain, "#!/bin/sh\ntouch ran\n");
    EXPECT_EQ(validationResult(ConfigValidator(plain, m_dir.path(), 10), config()),
              "mihomo binary not found at " + plain);
    EXPECT_FALSE(QFile::exists(m_dir.filePath("ran")));
}

TEST_F(ConfigValidatorTest, ExitStatusAndOutputDecideTheResult)
{
    // Runs in the work directory with the test arguments in order.
    const QString seen = m_dir.filePath("seen");
    const QString echoing = script("echoing", "{ pwd; echo \"$@\"; } > '" + seen.toUtf8() + "'; exit 0\n");
    const QString work = m_dir.filePath("work");
    QDir().mkpath(work);
    EXPECT_EQ(validationResult(ConfigValidator(echoing, work, 10), config()), passed);
    EXPECT_EQ(test::readFile(seen), QStringLiteral("%1\n-d %1 -f %2 -t\n").arg(work, config()));

    const QString silentFailure = script("silent", "exit 1\n");
    EXPECT_EQ(validationResult(ConfigValidator(silentFailure, work, 10), config()),
              "Configuration test failed");

    const QString noisyFailure =
        script("noisy", "echo '  first line'; echo 'second line' >&2; echo; exit 3\n");
    try {
        test::await(ConfigValidator(noisyFailure, work, 10).validate(config()));
        ADD_FAILURE() << "validation passed";
    } catch (const ConfigValidationError& error) {
        EXPECT_EQ(error.kind(), ConfigValidationError::Kind::failed);
        EXPECT_EQ(error.exitCode(), 3);
        EXPECT_EQ(error.description(), "first line\nsecond line");
    }

    const QString fingerprint =
        script("fingerprint", "echo 'unknown key global-client-fingerprint'; exit 1\n");
    EXPECT_EQ(validationResult(ConfigValidator(fingerprint, work, 10), config()), passed);
}

TEST_F(ConfigValidatorTest, HangingKernelIsStoppedAfterTheTimeLimit)
{
    // Ignores TERM, so the validator has to escalate to KILL.
    const QString hanging = script("hanging", "trap '' TERM\necho 'loading...'\nexec sleep 60\n");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(validationResult(ConfigValidator(hanging, m_dir.path(), 0.3), config()),
              "mihomo -t timed out after 1s\nloading...");
    // Time limit plus the escalation, well below the script's own 60 s.
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST_F(ConfigValidatorTest, RealKernelAcceptsAndRejects)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    const QString work = m_dir.filePath("work");
    QDir().mkpath(work);
    const ConfigValidator validator(kernel, work, 10);

    const QString good = m_dir.filePath("good.json");
    test::writeFile(good, R"({"mixed-port": 0, "proxies": [], "rules": ["MATCH,DIRECT"]})");
    EXPECT_EQ(validationResult(validator, good), passed);

    const QString bad = m_dir.filePath("bad.json");
    test::writeFile(bad, R"({"proxy-groups": [{"name": "G", "type": "select", "proxies": ["Nowhere"]}],
                            "rules": ["MATCH,G"]})");
    const QString description = validationResult(validator, bad);
    EXPECT_TRUE(description.contains("Nowhere")) << description.toStdString();
}
