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

namespace {

void expectReadAsTheTreeReaderDoes(const QByteArray& message)
{
    const auto fast = ConnectionSnapshotDecoder::decode(message);
    ASSERT_TRUE(fast) << message.constData();
    ConnectionSnapshot tree = ConnectionSnapshot::fromJson(QJsonDocument::fromJson(message).object());
    // Both stamp an unreadable start with the time of reading.
    for (qsizetype i = 0; i < tree.connections.size() && i < fast->connections.size(); ++i) {
        if (std::abs(tree.connections[i].start.msecsTo(fast->connections[i].start)) < 5000)
            tree.connections[i].start = fast->connections[i].start;
    }
    EXPECT_EQ(*fast, tree) << message.constData();
}

// A table of connections `ids`, their counters moved by `round`.
QByteArray table(const QStringList& ids, int round)
{
    QStringList elements;
    for (const QString& id : ids)
        elements.append(
            QStringLiteral(R"({"id":"%1","upload":%2,"download":%3,"rule":"R","metadata":{"host":"%1"}})")
                .arg(id)
                .arg(round * 7)
                .arg(round * 1000 + id.size()));
    return QStringLiteral(R"({"uploadTotal":%1,"connections":[%2]})")
        .arg(round)
        .arg(elements.join(','))
        .toUtf8();
}

} // namespace

// The stream's own reader must read exactly as the JSON tree reader does, lenient rules included, message
// after message. The messages, one after another: a table; the next second's (texts seen before, texts
// changed, white space before separators, escapes); one where only counters changed (digits, sign, a form
// that is not a plain integer) or a field besides them; then odd shapes. Each is read once after the one
// before it and once with nothing to recall from (after an empty table).
TEST(ConnectionSnapshotDecoderTest, ReadsAsTheTreeReaderDoes)
{
    QList<QByteArray> messages;
    for (const QString& message :
         test::readFile(test::testData("controller/connection-messages.txt")).split("\n\n"))
        messages.append(message.trimmed().toUtf8());
    ASSERT_EQ(messages.size(), 8);
    for (const bool afresh : {false, true}) {
        for (const QByteArray& message : messages) {
            if (afresh) {
                ASSERT_TRUE(ConnectionSnapshotDecoder::decode(R"({"connections": []})"));
            }
            expectReadAsTheTreeReaderDoes(message);
        }
    }
    // Tables longer than the elements probed for being seen before: one that turned over at its start (it is
    // read again in one pass), the next second's of it (recalled from that pass), one seen before.
    QStringList old, turned;
    for (int i = 0; i < 20; ++i) {
        old.append(QStringLiteral("old-%1").arg(i));
        turned.append(QStringLiteral("new-%1").arg(i));
    }
    turned += old;
    for (const QByteArray& message : {table(old, 0), table(turned, 1), table(turned, 2), table(old, 3)})
        expectReadAsTheTreeReaderDoes(message);
    // A message that only borrows its bytes, which go before the next one comes.
    {
        const QByteArray lent = table(old, 4);
        ASSERT_TRUE(
            ConnectionSnapshotDecoder::decode(QByteArray::fromRawData(lent.constData(), lent.size())));
    }
    expectReadAsTheTreeReaderDoes(table(old, 5));

    const auto first = ConnectionSnapshotDecoder::decode(messages[0]);
    EXPECT_EQ(first->activeCount, 8);
    EXPECT_EQ(first->connections.size(), 4);
    EXPECT_EQ(first->connections[0].start,
              QDateTime::fromString("2024-05-01T02:00:00.123Z", Qt::ISODateWithMs));

    // Refused whole, after a table seen before and with nothing to recall from.
    for (const char* bad :
         {"", "[1, 2]", "not json", R"({"connections": [{"id": "x")", R"({"a": 1} trailing)", R"({"a" 1})",
          R"({1: 2})", R"({"connections": [1 2]})", R"({"connections": [], })", R"({"uploadTotal": "1})",
          R"({"connections": [{"id": "x", "upload": [1}]})"}) {
        for (const QByteArray& before : {messages[0], QByteArray(R"({"connections": []})")}) {
            ASSERT_TRUE(ConnectionSnapshotDecoder::decode(before));
            EXPECT_FALSE(ConnectionSnapshotDecoder::decode(QByteArray(bad))) << bad;
        }
    }
}
