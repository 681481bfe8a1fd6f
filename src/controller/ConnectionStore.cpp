#include "ConnectionStore.h"

#include "FlowRecorder.h"
#include "platform/Error.h"
#include "platform/Logging.h"

#include <algorithm>

namespace tarnwick {

ConnectionStore::ConnectionStore(MihomoClient client, QObject* parent)
    : QObject(parent), m_client(std::move(client))
{}

ConnectionStore::~ConnectionStore() = default;

void ConnectionStore::startStreaming()
{
    if (m_stream)
        return;
    m_stream = m_client.connectionsStream();
    connect(m_stream.get(), &ControllerStreamBase::elementsAvailable, this, &ConnectionStore::takeSnapshots);
    connect(m_stream.get(), &ControllerStreamBase::finished, this, &ConnectionStore::streamFinished);
    Q_EMIT streamingChanged();
}

void ConnectionStore::stopStreaming()
{
    if (!m_stream)
        return;
    // Dropping the stream closes its WebSocket as "going away"; nothing is printed for a stop.
    m_stream->disconnect(this);
    m_stream.reset();
    Q_EMIT streamingChanged();
}

void ConnectionStore::takeSnapshots()
{
    for (ConnectionSnapshot& snapshot : m_stream->takeAll())
        apply(std::move(snapshot));
}

void ConnectionStore::streamFinished()
{
    takeSnapshots();
    QString description = QStringLiteral("stream closed");
    try {
        if (m_stream->error())
            std::rethrow_exception(m_stream->error());
    } catch (const std::exception& error) {
        description = describe(error);
    }
    printDiagnostic(QStringLiteral("[ConnectionStore] Stream ended with error: ") + description);
    // Inside the stream's own signal: it goes once the signal has returned.
    m_stream->disconnect(this);
    m_stream.release()->deleteLater();
    Q_EMIT streamingChanged();
}

QCoro::Task<> ConnectionStore::closeConnection(QString id) const
{
    return m_client.closeConnection(id);
}

QCoro::Task<> ConnectionStore::closeAllConnections() const
{
    return m_client.closeAllConnections();
}

void ConnectionStore::apply(ConnectionSnapshot snapshot)
{
    QList<ConnectionItem>& items = snapshot.connections;
    QHash<QString, qsizetype> index;
    index.reserve(items.size());
    QList<qsizetype> opened;
    for (qsizetype i = 0; i < items.size(); ++i) {
        ConnectionItem& item = items[i];
        const auto previous = m_previousIndex.constFind(item.id);
        if (previous != m_previousIndex.cend()) {
            const ConnectionItem& before = m_activeConnections.at(*previous);
            item.uploadSpeed = std::max<qint64>(0, item.upload - before.upload);
            item.downloadSpeed = std::max<qint64>(0, item.download - before.download);
        } else {
            opened.append(i);
        }
        index.insert(item.id, i);
    }

    QList<ConnectionItem> closed;
    for (const ConnectionItem& before : std::as_const(m_activeConnections)) {
        if (index.contains(before.id))
            continue;
        ConnectionItem item = before;
        item.isClosed = true;
        item.uploadSpeed = 0;
        item.downloadSpeed = 0;
        closed.append(std::move(item));
    }

    const bool countChanged = snapshot.activeCount != m_activeCount;
    m_activeCount = snapshot.activeCount;
    m_activeConnections = items;
    m_currentSnapshot = std::move(snapshot);
    m_previousIndex = std::move(index);
    if (!closed.isEmpty()) {
        // The newly closed first: the list reads newest first.
        QList<ConnectionItem> merged = closed.first(std::min<qsizetype>(closed.size(), closedLimit));
        merged.append(m_closedConnections.first(
            std::clamp<qsizetype>(closedLimit - merged.size(), 0, m_closedConnections.size())));
        m_closedConnections = std::move(merged);
    }

    if (countChanged)
        Q_EMIT activeCountChanged();
    Q_EMIT activeConnectionsChanged();
    if (!closed.isEmpty())
        Q_EMIT closedConnectionsChanged();

    if (!m_flowRecorder)
        return;
    const QString profileName =
        m_profileNameProvider ? m_profileNameProvider().value_or(QString()) : QString();
    for (const qsizetype i : std::as_const(opened))
        m_flowRecorder->recordOpened(m_activeConnections.at(i), m_sessionID, profileName);
    for (const ConnectionItem& item : std::as_const(closed))
        m_flowRecorder->recordClosed(item);
}

} // namespace tarnwick
