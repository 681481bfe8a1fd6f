#pragma once

#include "ConnectionSnapshot.h"
#include "ControllerStream.h"
#include "MihomoClient.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

namespace tarnwick {

class FlowRecorder;

// The live connection list of the requests page: follows the kernel's "/connections" stream, derives each
// connection's speed from consecutive snapshots, keeps the most recently closed connections, and hands
// every connection that appears or disappears to the traffic history. Main thread only.
class ConnectionStore final : public QObject
{
    Q_OBJECT

public:
    static constexpr int closedLimit = 200;

    explicit ConnectionStore(MihomoClient client, QObject* parent = nullptr);
    ~ConnectionStore() override;

    // In the order of the latest snapshot, with speeds in bytes per second.
    const QList<ConnectionItem>& activeConnections() const { return m_activeConnections; }
    // Newest first, at most closedLimit.
    const QList<ConnectionItem>& closedConnections() const { return m_closedConnections; }
    int activeCount() const { return m_activeCount; }
    // The latest snapshot; its connections are activeConnections(), speeds included.
    const ConnectionSnapshot& currentSnapshot() const { return m_currentSnapshot; }
    bool isStreaming() const { return m_stream != nullptr; }

    // A new controller endpoint; a running stream goes on with the client it was opened with.
    void setClient(MihomoClient client) { m_client = std::move(client); }
    // Where flows are recorded; absent when the history cannot be kept. Not owned.
    void setFlowRecorder(FlowRecorder* recorder) { m_flowRecorder = recorder; }
    void setSessionID(qint64 sessionID) { m_sessionID = sessionID; }
    qint64 sessionID() const { return m_sessionID; }
    // The active profile's name, recorded with every flow.
    void setProfileNameProvider(std::function<std::optional<QString>()> provider)
    {
        m_profileNameProvider = std::move(provider);
    }

    // Follows the stream until it fails or stopStreaming(); nothing when already streaming. The store does
    // not reconnect on its own: its owner starts it again.
    void startStreaming();
    void stopStreaming();

    // The list changes when the kernel's next snapshot no longer holds the connection.
    QCoro::Task<> closeConnection(QString id) const;
    QCoro::Task<> closeAllConnections() const;

    // Applies one snapshot: speeds, closed connections, flow recording.
    void apply(ConnectionSnapshot snapshot);

Q_SIGNALS:
    void activeConnectionsChanged();
    void closedConnectionsChanged();
    void activeCountChanged();
    void streamingChanged();

private:
    void takeSnapshots();
    void streamFinished();

    MihomoClient m_client;
    std::unique_ptr<ControllerStream<ConnectionSnapshot>> m_stream;
    QList<ConnectionItem> m_activeConnections;
    QList<ConnectionItem> m_closedConnections;
    int m_activeCount = 0;
    ConnectionSnapshot m_currentSnapshot;
    // Position in m_activeConnections (the previous snapshot) by id: its byte totals give the next
    // speeds, and the ids missing from the next snapshot have closed.
    QHash<QString, qsizetype> m_previousIndex;
    FlowRecorder* m_flowRecorder = nullptr;
    qint64 m_sessionID = 0;
    std::function<std::optional<QString>()> m_profileNameProvider;
};

} // namespace tarnwick
