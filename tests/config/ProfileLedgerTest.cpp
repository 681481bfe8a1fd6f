#include "config/ProfileLedger.h"

#include "config/MountLedger.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

class ProfileLedgerTest : public ::testing::Test
{
protected:
    QString profiles() const { return m_dir.path() + "/profiles/"; }
    void touch(const QString& fileName) const { writeFile(profiles() + fileName, "proxies: []\n"); }

    QTemporaryDir m_dir;
};

ProfileNode remoteNode(const QString& fileName)
{
    ProfileNode node;
    node.id = ProfileNode::newId();
    node.name = "Work";
    node.type = ProfileType::Remote;
    node.fileName = fileName;
    node.url = "https://sub.example/api/v1/client?token=a/b";
    node.updateInterval = 43200;
    node.lastUpdated = QDateTime::fromString("2001-01-01T00:00:10.500Z", Qt::ISODateWithMs);
    return node;
}

} // namespace

TEST_F(ProfileLedgerTest, ManifestFormat)
{
    touch("Work.yaml");
    ProfileLedger ledger(profiles());
    ProfileNode node = remoteNode("Work.yaml");
    node.id = "5F1A9C2E-0000-4000-8000-000000000001";
    ledger.save({node});

    // Dates are seconds since 2001-01-01 UTC, as doubles; slashes stay unescaped.
    EXPECT_EQ(readFile(ledger.manifestPath()), QStringLiteral(R"([
  {
    "fileName": "Work.yaml",
    "id": "5F1A9C2E-0000-4000-8000-000000000001",
    "lastUpdated": 10.5,
    "name": "Work",
    "type": "remote",
    "updateInterval": 43200,
    "url": "https://sub.example/api/v1/client?token=a/b"
  }
])"));
    EXPECT_EQ(ledger.getNodes(), QList<ProfileNode>{node});

    // A local node leaves the optional members out and reads back without them.
    ProfileNode local;
    local.id = ProfileNode::newId();
    local.name = "Mine";
    local.fileName = "Work.yaml";
    ledger.save({local});
    EXPECT_FALSE(readFile(ledger.manifestPath()).contains(QLatin1String("url")));
    EXPECT_EQ(ledger.getNodes(), QList<ProfileNode>{local});
    EXPECT_EQ(toReferenceSeconds(fromReferenceSeconds(-3600.25)), -3600.25);
}

TEST_F(ProfileLedgerTest, ReconcilesWithTheFilesPresent)
{
    touch("Work.yaml");
    touch("Hand Copied.yml");
    writeFile(profiles() + "notes.txt", "not a profile");
    ProfileLedger ledger(profiles());
    const ProfileNode work = remoteNode("Work.yaml");
    const ProfileNode gone = remoteNode("Deleted By Hand.yaml");
    ledger.save({gone, work});

    const QList<ProfileNode> nodes = ledger.getNodes();
    ASSERT_EQ(nodes.size(), 2);
    EXPECT_FALSE(nodes[1].id.isEmpty());
    EXPECT_EQ(nodes, (QList<ProfileNode>{work,
                                         {nodes[1].id, "Hand Copied", ProfileType::Local, "Hand Copied.yml",
                                          std::nullopt, std::nullopt, std::nullopt}}));
    // The stand-in node keeps its id from one read to the next.
    EXPECT_EQ(ledger.getNodes(), nodes);
    EXPECT_EQ(ledger.nodeByFileName("Hand Copied.yml")->id, nodes[1].id);

    QFile::remove(profiles() + "Work.yaml");
    EXPECT_FALSE(ledger.node(work.id).has_value());
    EXPECT_EQ(ledger.getNodes().size(), 1);
}

TEST_F(ProfileLedgerTest, DamagedManifestFailsInsteadOfLosingNodes)
{
    touch("Work.yaml");
    ProfileLedger ledger(profiles());
    for (const QByteArray& damaged :
         {QByteArray("{\"not\": \"a list\"}"), QByteArray("[trailing garbage"),
          QByteArray(R"([{"id":"x","name":"n","type":"cloud","fileName":"Work.yaml"}])")}) {
        writeFile(ledger.manifestPath(), damaged);
        EXPECT_ANY_THROW(ledger.getNodes()) << damaged.constData();
        EXPECT_EQ(readFile(ledger.manifestPath()).toUtf8(), damaged);
    }
    writeFile(ledger.manifestPath(), R"([{"id": "x"}])");
    EXPECT_EQ(errorText<ProfileLedgerError>([&] { ledger.getNodes(); }),
              "The profile manifest is damaged: \"name\" is missing or has the wrong type.");
}

TEST_F(ProfileLedgerTest, MountLedgerTogglesAndForgets)
{
    MountLedger mounts(profiles());
    EXPECT_TRUE(mounts.get().isEmpty());
    mounts.toggle("Home.yaml", "Sub A.yaml", true);
    mounts.toggle("Home.yaml", "Sub A.yaml", true);
    mounts.toggle("Home.yaml", "Sub B.yaml", true);
    mounts.toggle("Office.yaml", "Sub B.yaml", true);
    EXPECT_EQ(mounts.mountedSubscriptions("Home.yaml"), (QStringList{"Sub A.yaml", "Sub B.yaml"}));

    // Unmounting the last one removes the local profile's entry from the file.
    mounts.toggle("Office.yaml", "Sub B.yaml", false);
    EXPECT_EQ(readFile(mounts.path()), QStringLiteral(R"({
  "Home.yaml": [
    "Sub A.yaml",
    "Sub B.yaml"
  ]
})"));
    mounts.forget("Sub A.yaml");
    EXPECT_EQ(mounts.get(), (MountLedger::Map{{"Home.yaml", {"Sub B.yaml"}}}));
    mounts.forget("Home.yaml");
    EXPECT_EQ(readFile(mounts.path()), "{}");
}
