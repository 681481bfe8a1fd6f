#pragma once

#include "ControllerStream.h"
#include "LogEntry.h"
#include "MihomoClient.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

namespace tarnwick {

// The kernel's log for the logs page. Lines arrive in bursts of hundreds a second, so they are collected
// as they come and published four times a second at most, in one change each; the list keeps the newest
// `maxEntries` lines; nothing wakes while no lines come. Main thread only: the WebSocket delivers on this
// thread, so the buffer needs no lock.
class LogStore final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds flushInterval{250};

    LogStore(MihomoClient client, int maxEntries, QObject* parent = nullptr);
    ~LogStore() override;

    // Oldest first.
    const QList<LogEntry>& entries() const { return m_entries; }
    bool isStreaming() const { return m_stream != nullptr; }
    int maxEntries() const { return m_maxEntries; }

    // A new controller endpoint, used from the next start on.
    void setClient(MihomoClient client) { m_client = std::move(client); }

    // Follows the log at `level` ("debug", "info", "warning", "error", "silent"); a running stream is
    // replaced, so this also changes the level.
    void startStreaming(const QString& level);
    // The page's pause: the lines shown stay, a later start adds new ones.
    void stopStreaming();
    // Empties the list and whatever has not been published yet.
    void clear();
    // Lines received from the stream: kept until the next flush, at most flushInterval from now.
    void receive(QList<LogEntry> lines);

    // The export file's text: "[time] [LEVEL] message" per entry, joined with "\n".
    static QString exportText(const QList<LogEntry>& entries);
    // "Tarnwick_Logs_yyyy-MM-dd-HHmmss.txt" in local time.
    static QString exportFileName(const QDateTime& now);
    // Writes the entries to `path` whole and atomically, as UTF-8. Throws FileError.
    void exportTo(const QString& path) const;

Q_SIGNALS:
    void entriesChanged();
    void streamingChanged();

private:
    void takeLines();
    void flush();
    void streamEnded();

    MihomoClient m_client;
    int m_maxEntries;
    std::unique_ptr<ControllerStream<LogEntry>> m_stream;
    QList<LogEntry> m_entries;
    // Received but not yet published.
    QList<LogEntry> m_buffer;
    QTimer m_flushTimer;
};

} // namespace tarnwick
