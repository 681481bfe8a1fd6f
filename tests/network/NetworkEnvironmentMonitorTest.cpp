#include "network/NetworkEnvironmentMonitor.h"

#include "network/WifiNameSource.h"
#include "platform/NetworkManagerCli.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QMutex>
#include <QSignalSpy>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

QByteArray recorded(const QString& name)
{
    return test::readFile(test::testData(QStringLiteral("network/") + name)).toUtf8();
}

// No Wi-Fi hardware here: the name the test says the machine is on.
class ScriptedSource final : public WifiNameSource
{
public:
    std::optional<QString> currentSSID() override
    {
        const QMutexLocker locker(&lock);
        ++reads;
        return name;
    }
    int readCount()
    {
        const QMutexLocker locker(&lock);
        return reads;
    }
    void set(std::optional<QString> value)
    {
        const QMutexLocker locker(&lock);
        name = std::move(value);
    }
    QMutex lock;
    std::optional<QString> name;
    int reads = 0;
};

TEST(WifiNameSourceTest, ReadsTheRecordedOutputsOfNetworkManagerAndIwgetid)
{
    EXPECT_EQ(NetworkManagerCli::parseActiveSSID(recorded(QStringLiteral("nmcli-wifi-list.txt"))),
              QStringLiteral("Office: 5 GHz"));
    EXPECT_EQ(NetworkManagerCli::parseActiveSSID(recorded(QStringLiteral("nmcli-wifi-list-not-joined.txt"))),
              std::nullopt);
    EXPECT_EQ(LinuxWifiNameSource::parseIwgetid(recorded(QStringLiteral("iwgetid-r.txt"))),
              QStringLiteral("Home Network"));
    EXPECT_EQ(LinuxWifiNameSource::parseIwgetid("\n"), std::nullopt);
    QStringList names;
    for (const auto& connection : NetworkManagerCli::userNetworks(NetworkManagerCli::parseActiveConnections(
             recorded(QStringLiteral("nmcli-active-connections.txt")))))
        names.append(connection.name);
    EXPECT_EQ(names, (QStringList{QStringLiteral("Wired connection 1"), QStringLiteral("Café: Home"),
                                  QStringLiteral("docker0")}));
}

TEST(NetworkEnvironmentMonitorTest, PublishesEachChangeOnce)
{
    auto source = std::make_unique<ScriptedSource>();
    ScriptedSource* scripted = source.get();
    scripted->set(QStringLiteral("Office"));
    NetworkEnvironmentMonitor monitor(std::move(source), 20ms);
    QSignalSpy changes(&monitor, &NetworkEnvironmentMonitor::ssidChanged);
    monitor.start();
    ASSERT_TRUE(test::waitFor([&] { return changes.size() == 1; }));
    EXPECT_EQ(monitor.currentSSID(), QStringLiteral("Office"));
    scripted->set(std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return changes.size() == 2; }));
    // Polls that find the same name publish nothing.
    const int reads = scripted->readCount();
    ASSERT_TRUE(test::waitFor([&] { return scripted->readCount() > reads + 2; }));
    EXPECT_EQ(changes.size(), 2);
    EXPECT_EQ(changes.at(0).at(0).toString(), QStringLiteral("Office"));
    EXPECT_EQ(changes.at(1).at(0).toString(), QString());
    EXPECT_EQ(monitor.currentSSID(), std::nullopt);
}

} // namespace
