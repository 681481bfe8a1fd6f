#pragma once

#include "controller/LogEntry.h"

#include <QAbstractTableModel>
#include <QHash>

namespace tarnwick {

// The kernel's log lines as a table (time, level, message). Lines only arrive at the end and leave at the
// front (the store's cap) or all at once (clear): rows are appended and removed, never reset, so a reader
// scrolled up keeps reading.
class LogListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        TimeColumn,
        LevelColumn,
        MessageColumn,
        ColumnCount
    };

    explicit LogListModel(QObject* parent = nullptr);

    void update(const QList<LogEntry>& entries);
    const LogEntry* entryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<LogEntry> m_rows;
};

} // namespace tarnwick
