#pragma once

#include "controller/ConnectionItem.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QFont>
#include <QHash>

namespace tarnwick {

// Connections as a table: host, process, rule, chain, rates, totals and duration. Updated in place by id
// (removed, inserted, changed rows), never reset, so sorting, selection and scrolling survive each update
// of the kernel's list.
class ConnectionListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        HostColumn,
        ProcessColumn,
        RuleColumn,
        ChainColumn,
        UploadSpeedColumn,
        DownloadSpeedColumn,
        UploadColumn,
        DownloadColumn,
        DurationColumn,
        ColumnCount
    };
    enum Role
    {
        ConnectionIdRole = Qt::UserRole + 1,
        // The raw number behind a column, for sorting.
        SortRole,
        // Everything the filter matches against.
        SearchTextRole,
    };

    explicit ConnectionListModel(QObject* parent = nullptr);

    void update(const QList<ConnectionItem>& connections);
    const ConnectionItem* connectionAt(int row) const;
    // The clock durations are measured against; the view refreshes it once a second.
    void setNow(const QDateTime& now);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVariant display(const ConnectionItem& item, int column) const;

    QList<ConnectionItem> m_rows;
    QHash<QString, int> m_rowOf;
    QDateTime m_now = QDateTime::currentDateTimeUtc();
    // Numbers that change every second keep their width.
    QFont m_digits;
};

} // namespace tarnwick
