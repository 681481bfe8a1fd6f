#include "config/AtomicFile.h"

#include "FileSizeLimit.h"
#include "config/ConfigCompiler.h"
#include "config/MountLedger.h"
#include "config/ProfileLedger.h"
#include "config/SubscriptionManager.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <functional>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

// One writer of the application's own files: `write(directory, large)` writes a small file into the
// directory, or one too large for the limit; it returns the file's path.
struct Writer
{
    const char* name;
    std::function<QString(const QString& directory, bool large)> write;
};

ProfileNode node(int i)
{
    ProfileNode node;
    node.id = ProfileNode::newId();
    node.name = QStringLiteral("Profile %1").arg(i);
    node.fileName = QStringLiteral("Profile %1.yaml").arg(i);
    return node;
}

const Writer writers[] = {
    {"AtomicFile",
     [](const QString& directory, bool large) {
         const QString path = directory + "/file.bin";
         // Past the limit, yet within the write buffer: the failure comes as the file is committed.
         AtomicFile::write(path, QByteArray(large ? 12'000 : 10, 'x'));
         return path;
     }},
    {"ProfileLedger",
     [](const QString& directory, bool large) {
         const ProfileLedger ledger(directory);
         QList<ProfileNode> nodes;
         for (int i = 0; i < (large ? 200 : 1); ++i)
             nodes.append(node(i));
         ledger.save(nodes);
         return ledger.manifestPath();
     }},
    {"MountLedger",
     [](const QString& directory, bool large) {
         const MountLedger mounts(directory);
         MountLedger::Map map;
         for (int i = 0; i < (large ? 200 : 1); ++i)
             map.insert(QStringLiteral("Local %1.yaml").arg(i), {"Subscription.yaml"});
         mounts.save(map);
         return mounts.path();
     }},
    {"SubscriptionManager",
     [](const QString& directory, bool large) {
         const QString path = directory + "/subscription_ledger.json";
         SubscriptionManager::Ledger ledger;
         for (int i = 0; i < (large ? 200 : 1); ++i)
             ledger.insert(QStringLiteral("https://host%1.example/subscription").arg(i),
                           SubscriptionInfo{i, i, i, i});
         SubscriptionManager::write(path, ledger);
         return path;
     }},
    {"ConfigCompiler",
     [](const QString& directory, bool large) {
         // Both profiles are written with the first, small write, before any limit holds.
         const QString source = directory + "/profiles/";
         if (!large) {
             QByteArray yaml = "rules:\n";
             for (int i = 0; i < 2000; ++i)
                 yaml += "  - DOMAIN,host" + QByteArray::number(i) + ".example,DIRECT\n";
             writeFile(source + "large.yaml", yaml);
             writeFile(source + "small.yaml", "rules:\n  - MATCH,DIRECT\n");
         }
         const QString path = directory + "/config.json";
         ConfigCompiler::compileAndWrite(source + (large ? "large.yaml" : "small.yaml"), path, {}, {});
         return path;
     }},
};

} // namespace

// A write that fails half-way (here: the file size limit, as a full disk) leaves the previous file whole
// and nothing beside it.
TEST(AtomicFileTest, EveryWriterReplacesItsFileWholeOrNotAtAll)
{
    for (const Writer& writer : writers) {
        SCOPED_TRACE(writer.name);
        QTemporaryDir dir;
        const QString path = writer.write(dir.path(), false);
        const QByteArray before = readFile(path).toUtf8();
        ASSERT_FALSE(before.isEmpty());
        {
            const FileSizeLimit limit(8192);
            EXPECT_THROW(writer.write(dir.path(), true), FileError);
        }
        EXPECT_EQ(readFile(path).toUtf8(), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});
    }
}
