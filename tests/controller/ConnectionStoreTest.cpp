#include "controller/ConnectionStore.h"

#include "controller/ConnectionSnapshotDecoder.h"
#include "controller/FlowRecorder.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>

using namespace tarnwick;

namespace {

struct RecordedFlow
{
    QString event;
    ConnectionItem item;
    qint64 sessionID = 0;
    QString profileName;
};

class RecordingFlowRecorder final : public FlowRecorder
{
public:
    void recordOpened(const ConnectionItem& item, qint64 sessionID, const QString& profileName) override
    {
        flows.append({"opened", item, sessionID, profileName});
    }
    void recordClosed(const ConnectionItem& item) override { flows.append({"closed", item, 0, QString()}); }

    QList<RecordedFlow> flows;
};

ConnectionItem connection(const QString& id, qint64 upload, qint64 download)
{
    ConnectionItem item;
    item.id = id;
    item.upload = upload;
    item.download = download;
    item.start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    return item;
}

ConnectionSnapshot snapshotOf(QList<ConnectionItem> items)
{
    ConnectionSnapshot snapshot;
    snapshot.activeCount = static_cast<int>(items.size());
    snapshot.connections = std::move(items);
    return snapshot;
}

class ConnectionStoreTest : public ::testing::Test
{
protected:
    QNetworkAccessManager m_network;
    ConnectionStore m_store{MihomoClient(ControllerEndpoint{"127.0.0.1", 9, ""}, &m_network)};
};

} // namespace

TEST_F(ConnectionStoreTest, SpeedsClosedListAndFlowRecording)
{
    RecordingFlowRecorder recorder;
    m_store.setFlowRecorder(&recorder);
    m_store.setSessionID(7);
    m_store.setProfileNameProvider([] { return std::optional<QString>("Work"); });

    m_store.apply(snapshotOf({connection("a", 1000, 10), connection("b", 5, 5)}));
    EXPECT_EQ(m_store.activeConnections().at(0).uploadSpeed, 0) << "first sight has no speed";
    m_store.apply(snapshotOf({connection("a", 1500, 8), connection("c", 1, 1)}));
    const ConnectionItem& a = m_store.activeConnections().at(0);
    EXPECT_EQ(a.uploadSpeed, 500);
    EXPECT_EQ(a.downloadSpeed, 0) << "a counter that went back gives no negative speed";
    ASSERT_EQ(m_store.closedConnections().size(), 1);
    EXPECT_EQ(m_store.closedConnections().at(0).id, "b");
    EXPECT_TRUE(m_store.closedConnections().at(0).isClosed);
    m_store.apply(snapshotOf({connection("a", 1500, 8), connection("c", 1, 1)}));
    EXPECT_EQ(m_store.closedConnections().size(), 1) << "a closed connection is listed once";

    QStringList events;
    for (const RecordedFlow& flow : recorder.flows) {
        events.append(flow.event + ':' + flow.item.id);
        if (flow.event == "opened") {
            EXPECT_EQ(flow.sessionID, 7);
            EXPECT_EQ(flow.profileName, "Work");
        }
    }
    EXPECT_EQ(events, QStringList({"opened:a", "opened:b", "opened:c", "closed:b"}));
    EXPECT_EQ(recorder.flows.last().item.upload, 5) << "closed with its last byte counts";

    // Without a profile name the flow is recorded with an empty one; without a recorder nothing is.
    m_store.setProfileNameProvider([] { return std::optional<QString>(); });
    m_store.apply(snapshotOf({connection("d", 0, 0)}));
    EXPECT_EQ(recorder.flows.at(4).item.id, "d");
    EXPECT_EQ(recorder.flows.at(4).profileName, "");
    m_store.setFlowRecorder(nullptr);
    const qsizetype recorded = recorder.flows.size();
    m_store.apply(snapshotOf({connection("e", 0, 0)}));
    EXPECT_EQ(recorder.flows.size(), recorded);
    EXPECT_EQ(m_store.activeConnections().at(0).id, "e");
}

TEST_F(ConnectionStoreTest, ClosedListKeepsTheNewest200)
{
    RecordingFlowRecorder recorder;
    m_store.setFlowRecorder(&recorder);
    for (int batch = 0; batch < 5; ++batch) {
        QList<ConnectionItem> items;
        for (int i = 0; i < 50; ++i)
            items.append(connection(QStringLiteral("%1-%2").arg(batch).arg(i), 0, 0));
        m_store.apply(snapshotOf(items));
    }
    m_store.apply(snapshotOf({}));
    EXPECT_EQ(m_store.closedConnections().size(), 200);
    EXPECT_EQ(m_store.closedConnections().first().id, "4-0");
    EXPECT_EQ(m_store.closedConnections().last().id, "1-49");
    EXPECT_EQ(std::count_if(recorder.flows.begin(), recorder.flows.end(),
                            [](const RecordedFlow& flow) { return flow.event == "closed"; }),
              250);
}

// The stream's own reader must read exactly as the JSON tree reader does, lenient rules included, message
// after message.
TEST(ConnectionSnapshotDecoderTest, ReadsAsTheTreeReaderDoes)
{
    const char* messages[] = {
        R"({"downloadTotal": 12, "uploadTotal": "34", "connections": [
            {"id": "x1", "upload": 10, "download": 2.9, "start": "2024-05-01T10:00:00.123456789+08:00",
             "chains": ["HK 01", "Proxy"], "rule": "MATCH", "rulePayload": "",
             "metadata": {"network": "tcp", "type": "HTTP", "sourceIP": "127.0.0.1", "destinationIP": "1.2.3.4",
                          "sourcePort": "5000", "destinationPort": "443", "host": "example.com",
                          "sniffHost": "", "process": "curl", "processPath": "/usr/bin/curl",
                          "remoteDestination": "1.2.3.4", "inboundName": "DEFAULT-MIXED", "dscp": 0}},
            {"id": "x2", "start": "2024-05-01T10:00:00Z", "chains": ["a", 3], "metadata": "none",
             "upload": "7", "download": -1e300, "rule": 5},
            {"id": "x3", "start": "2024-05-01 10:00:00Z", "download": 18446744073709551615},
            {"id": "x4", "start": "2024-05-01T10:00:00-03:30", "metadata": {"host": "caf\u00e9\n"}},
            {"upload": 1}, 7, null, {"id": 9}]})",
        // The next second's table: texts seen before, texts changed, white space before separators, escapes.
        R"({"connections": [
            {"id": "x1" , "chains" : ["HK 01", "Proxy"] , "rule" : "MATCH" ,
             "metadata": {"host": "other.example" , "process": "curl" }},
            {"id": "x2", "chains": ["a", 3], "metadata": {"host": "\"quoted\" \\ host",
                                                   "sniffHost": "C:\\", "process": "wget"}},
            {"id":"x5","upload":1,"download":20,"rule":"MATCH","metadata":{"host":"a"}},
            {"id":"x6","download":5,"upload":6,"rule":"R"},
            {"id":"x7","upload":1,"download":1,"rule":"A"}]})",
        // Only counters changed (digits, sign, a form that is not a plain integer), or a field besides them.
        R"({"connections": [
            {"id":"x5","upload":1234567,"download":-3,"rule":"MATCH","metadata":{"host":"a"}},
            {"id":"x6","download":5e1,"upload":7,"rule":"R"},
            {"id":"x7","upload":2,"download":2,"rule":"B"}]})",
        R"({"memory": {"a": [1, {"b": "}]"}]},
            "connections": [ {"id" : "x9" , "upload" : 3 , "download" : 4 } ] , "uploadTotal": "-5"})",
        R"({"connections": [ {"id" : "x9" , "upload" : 30 , "download" : 4 }, "x", [{}] ]})",
        R"({"downloadTotal": 1.5, "connections": null})",
        R"({"connections": {"id": "x"}})",
        R"({})",
    };
    for (const char* message : messages) {
        const auto fast = ConnectionSnapshotDecoder::decode(QByteArray(message));
        ASSERT_TRUE(fast) << message;
        ConnectionSnapshot tree = ConnectionSnapshot::fromJson(QJsonDocument::fromJson(message).object());
        // Both stamp an unreadable start with the time of reading.
        for (qsizetype i = 0; i < tree.connections.size() && i < fast->connections.size(); ++i) {
            if (std::abs(tree.connections[i].start.msecsTo(fast->connections[i].start)) < 5000)
                tree.connections[i].start = fast->connections[i].start;
        }
        EXPECT_EQ(*fast, tree) << message;
    }
    const auto first = ConnectionSnapshotDecoder::decode(messages[0]);
    EXPECT_EQ(first->activeCount, 8);
    EXPECT_EQ(first->connections.size(), 4);
    EXPECT_EQ(first->connections[0].start,
              QDateTime::fromString("2024-05-01T02:00:00.123Z", Qt::ISODateWithMs));

    for (const char* bad :
         {"", "[1, 2]", "not json", R"({"connections": [{"id": "x")", R"({"a": 1} trailing)", R"({"a" 1})",
          R"({1: 2})", R"({"connections": [1 2]})", R"({"connections": [], })", R"({"uploadTotal": "1})",
          R"({"connections": [{"id": "x", "upload": [1}]})"})
        EXPECT_FALSE(ConnectionSnapshotDecoder::decode(QByteArray(bad))) << bad;
}
