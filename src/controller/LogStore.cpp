#include "LogStore.h"

#include "config/AtomicFile.h"
#include "platform/Error.h"
#include "platform/Logging.h"

namespace tarnwick {

LogStore::LogStore(MihomoClient client, int maxEntries, QObject* parent)
    : QObject(parent), m_client(std::move(client)), m_maxEntries(maxEntries)
{
    // Started by the first line after a flush, so flushes are at least an interval apart.
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(flushInterval);
    connect(&m_flushTimer, &QTimer::timeout, this, &LogStore::flush);
}

LogStore::~LogStore() = default;

void LogStore::startStreaming(const QString& level)
{
    if (m_stream)
        m_stream->disconnect(this);
    m_stream = m_client.logsStream(level);
    connect(m_stream.get(), &ControllerStreamBase::elementsAvailable, this, &LogStore::takeLines);
    connect(m_stream.get(), &ControllerStreamBase::finished, this, &LogStore::streamEnded);
    Q_EMIT streamingChanged();
}

void LogStore::stopStreaming()
{
    // What arrived before the pause is still shown.
    flush();
    if (!m_stream)
        return;
    m_stream->disconnect(this);
    m_stream.reset();
    Q_EMIT streamingChanged();
}

void LogStore::clear()
{
    m_buffer.clear();
    m_flushTimer.stop();
    if (m_entries.isEmpty())
        return;
    m_entries.clear();
    Q_EMIT entriesChanged();
}

void LogStore::takeLines()
{
    receive(m_stream->takeAll());
}

void LogStore::receive(QList<LogEntry> lines)
{
    m_buffer.append(std::move(lines));
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void LogStore::flush()
{
    m_flushTimer.stop();
    if (!m_buffer.isEmpty()) {
        QList<LogEntry> batch = std::exchange(m_buffer, {});
        if (batch.size() >= m_maxEntries) {
            m_entries = batch.last(m_maxEntries);
        } else {
            const qsizetype excess = m_entries.size() + batch.size() - m_maxEntries;
            if (excess > 0)
                m_entries.remove(0, excess);
            m_entries.append(std::move(batch));
        }
        Q_EMIT entriesChanged();
    }
}

void LogStore::streamEnded()
{
    takeLines();
    try {
        if (m_stream->error())
            std::rethrow_exception(m_stream->error());
    } catch (const std::exception& error) {
        qCDebug(lcController, "The log stream ended: %s", qUtf8Printable(describe(error)));
    }
    // Inside the stream's own signal: it goes once the signal has returned.
    m_stream->disconnect(this);
    m_stream.release()->deleteLater();
    // What arrived before the end is still shown.
    flush();
    Q_EMIT streamingChanged();
}

QString LogStore::exportText(const QList<LogEntry>& entries)
{
    QStringList lines;
    lines.reserve(entries.size());
    for (const LogEntry& entry : entries)
        lines.append(u'[' + entry.time.value_or(QString()) + QStringLiteral("] [") + entry.level.toUpper() +
                     QStringLiteral("] ") + entry.message);
    return lines.join(u'\n');
}

QString LogStore::exportFileName(const QDateTime& now)
{
    return QStringLiteral("Tarnwick_Logs_") +
           now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")) + QStringLiteral(".txt");
}

void LogStore::exportTo(const QString& path) const
{
    AtomicFile::write(path, exportText(m_entries).toUtf8());
}

} // namespace tarnwick
