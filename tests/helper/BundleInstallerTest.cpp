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
    test::writeFile(path + "/bin/tarnwick-app", "#!/bin/sh\necho " + marker + "\n");
    QFile::setPermissions(path + "/bin/tarnwick-app",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup);
    test::writeFile(path + "/share/tarnwick/Info.ini", "ShortVersion=" + marker + "\n");
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
    const QString target = dir.filePath("Applications/Tarnwick");
    const QString source = dir.filePath("update/Tarnwick-2");
    makeBundle(target, "1");
    test::writeFile(target + "/only-in-old", "gone after the update");
    makeBundle(source, "2");
    const QMap<QString, QByteArray> expected = snapshot(source);

    EXPECT_EQ(refusal(source, target), "(no error)");
    EXPECT_EQ(snapshot(target), expected);
    EXPECT_TRUE(QFileInfo(target + "/bin/tarnwick-app").isExecutable());
    EXPECT_EQ(snapshot(source), expected); // the source is copied, not consumed
    EXPECT_EQ(
        QDir(dir.filePath("Applications")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{"Tarnwick"});
}

TEST(BundleInstallerTest, RefusalsLeaveTheInstalledBundle)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("Applications/Tarnwick");
    makeBundle(target, "1");
    const QString good = dir.filePath("update/good");
    makeBundle(good, "2");
    const QString linked = dir.filePath("update/linked");
    makeBundle(linked, "2");
    QFile::link("/etc/passwd", linked + "/share/passwd");
    const QString empty = dir.filePath("update/empty");
    QDir().mkpath(empty + "/bin");
    const QString linkToTarget = dir.filePath("Applications/Link");
    QFile::link(target, linkToTarget);
    const QMap<QString, QByteArray> before = snapshot(dir.path());

    const QString missing = dir.filePath("Applications/Missing");
    const QList<std::tuple<QString, QString, QString>> cases = {
        {"update/good", target, "Not a clean absolute path: update/good"},
        {dir.filePath("update/../update/good"), target,
         "Not a clean absolute path: " + dir.filePath("update/../update/good")},
        {good, "/", "Not a clean absolute path: /"},
        {target + "/bin", target, "The new bundle and the installed one overlap"},
        {empty, target, "Cannot use " + empty + "/bin/tarnwick-app: No such file or directory"},
        {linked, target, linked + "/share/passwd is neither a directory nor a regular file"},
        {good, linkToTarget, linkToTarget + " is a symbolic link"},
        {good, missing, "Cannot use " + missing + ": No such file or directory"},
    };
    for (const auto& [source, installed, expected] : cases) {
        SCOPED_TRACE(source.toStdString() + " over " + installed.toStdString());
        EXPECT_EQ(refusal(source, installed), expected);
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}
