// `tarnwick yaml FILE...` run as the real executable.

#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarnwick;

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

Result runTarnwick(const QStringList& arguments)
{
    QProcess process;
    process.start(test::binaryDir() + QStringLiteral("/bin/tarnwick"), arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return Result{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                  QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

TEST(YamlCommandTest, PrintsEveryDocumentAsOneLineOfJson)
{
    QTemporaryDir directory;
    const QString first = directory.filePath(QStringLiteral("first.yaml"));
    const QString second = directory.filePath(QStringLiteral("second.yaml"));
    test::writeFile(first,
                    "\xEF\xBB\xBF"
                    "name: 🇭🇰 香港\r\nport: 0x1F\r\nurl: https://example.com/a\r\n---\n- [1, '2', 3.5]\n");
    test::writeFile(second, "base: &b {a: 1}\nx: {<<: *b, c: ~}\n");

    const Result run = runTarnwick({QStringLiteral("yaml"), first, second});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("{\"name\":\"🇭🇰 香港\",\"port\":31,\"url\":\"https://example.com/a\"}\n"
                                      "[[1,\"2\",3.5]]\n"
                                      "{\"base\":{\"a\":1},\"x\":{\"a\":1,\"c\":null}}\n"));
    EXPECT_EQ(run.err, QString());
}

TEST(YamlCommandTest, StopsAtTheFirstError)
{
    QTemporaryDir directory;
    const QString good = directory.filePath(QStringLiteral("good.yaml"));
    const QString bad = directory.filePath(QStringLiteral("bad.yaml"));
    test::writeFile(good, "a: 1\n");
    test::writeFile(bad, "ok: 1\n---\nproxies:\n  - {name: \"a\"b\"}\n");

    Result run = runTarnwick({QStringLiteral("yaml"), good, bad, good});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, QStringLiteral("{\"a\":1}\n{\"ok\":1}\n"));
    EXPECT_EQ(run.err, QStringLiteral("4:15: parser error: unexpected token in flow: scalar\n"));

    run = runTarnwick({QStringLiteral("yaml"), directory.filePath(QStringLiteral("missing.yaml"))});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("tarnwick: cannot read ") +
                                   directory.filePath(QStringLiteral("missing.yaml")) +
                                   QStringLiteral(": ")));

    run = runTarnwick({QStringLiteral("yaml")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, QStringLiteral("usage: tarnwick yaml FILE...\n"));
}
