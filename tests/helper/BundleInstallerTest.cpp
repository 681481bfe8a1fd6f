#include "helper/BundleInstaller.h"

#include "helper/HelperError.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <unistd.h>

using namespace tarnwick;

namespace {

void makeBundle(const QString& path, const QByteArray& marker)
{
    test::writeFile(path + QStringLiteral("/bin/tarnwick-app"), "#!/bin/sh\necho " + marker + "\n");
    QFile::setPermissions(path + QStringLiteral("/bin/tarnwick-app"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup);
    test::writeFile(path + QStringLiteral("/share/tarnwick/Info.ini"), "ShortVersion=" + marker + "\n");
}

QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        files.insert(QDir(root).relativeFilePath(info.filePath()),
                     info.isSymLink()
                         ? "-> " + info.symLinkTarget().toUtf8()
                         : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<dir>")));
    }
    return files;
}

QString refusal(const QString& source, const QString& target)
{
    return test::errorText<HelperError>([&] { BundleInstaller::install(source, target, ::geteuid()); });
}

} // namespace

TEST(BundleInstallerTest, NewBundleTakesTheInstalledOnesPlace)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Applications/Tarnwick"));
    const QString source = dir.filePath(QStringLiteral("update/Tarnwick-2"));
    makeBundle(target, "1");
    test::writeFile(target + QStringLiteral("/only-in-old"), "gone after the update");
    makeBundle(source, "2");
    const QMap<QString, QByteArray> expected = snapshot(source);

    EXPECT_EQ(refusal(source, target), QStringLiteral("(no error)"));
    EXPECT_EQ(snapshot(target), expected);
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/bin/tarnwick-app")).isExecutable());
    EXPECT_EQ(snapshot(source), expected); // the source is copied, not consumed
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("Applications")))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("Tarnwick")});
}

TEST(BundleInstallerTest, RefusalsLeaveTheInstalledBundle)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Applications/Tarnwick"));
    makeBundle(target, "1");
    const QString good = dir.filePath(QStringLiteral("update/good"));
    makeBundle(good, "2");
    const QString linked = dir.filePath(QStringLiteral("update/linked"));
    makeBundle(linked, "2");
    QFile::link(QStringLiteral("/etc/passwd"), linked + QStringLiteral("/share/passwd"));
    const QString empty = dir.filePath(QStringLiteral("update/empty"));
    QDir().mkpath(empty + QStringLiteral("/bin"));
    const QString linkToTarget = dir.filePath(QStringLiteral("Applications/Link"));
    QFile::link(target, linkToTarget);
    const QMap<QString, QByteArray> before = snapshot(dir.path());

    const QList<std::tuple<QString, QString, QString>> cases = {
        {QStringLiteral("update/good"), target, QStringLiteral("Not a clean absolute path: update/good")},
        {dir.filePath(QStringLiteral("update/../update/good")), target,
         QStringLiteral("Not a clean absolute path: ") +
             dir.filePath(QStringLiteral("update/../update/good"))},
        {good, QStringLiteral("/"), QStringLiteral("Not a clean absolute path: /")},
        {target + QStringLiteral("/bin"), target,
         QStringLiteral("The new bundle and the installed one overlap")},
        {empty, target,
         QStringLiteral("Cannot use ") + empty +
             QStringLiteral("/bin/tarnwick-app: No such file or directory")},
        {linked, target, linked + QStringLiteral("/share/passwd is neither a directory nor a regular file")},
        {good, linkToTarget, linkToTarget + QStringLiteral(" is a symbolic link")},
        {good, dir.filePath(QStringLiteral("Applications/Missing")),
         QStringLiteral("Cannot use %1: No such file or directory")
             .arg(dir.filePath(QStringLiteral("Applications/Missing")))},
    };
    for (const auto& [source, installed, expected] : cases) {
        SCOPED_TRACE(source.toStdString() + " over " + installed.toStdString());
        EXPECT_EQ(refusal(source, installed), expected);
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}
