#include "ConnectionListModel.h"

#include "controller/RateFormatter.h"

#include <QFontDatabase>
#include <vector>

namespace tarnwick {

namespace {

// The metadata the table shows, in its host, process and tooltip.
bool sameShownMetadata(const ConnectionItem& a, const ConnectionItem& b)
{
    return a.metadata.host == b.metadata.host && a.metadata.sniffHost == b.metadata.sniffHost &&
           a.metadata.destinationIP == b.metadata.destinationIP &&
           a.metadata.destinationPort == b.metadata.destinationPort &&
           a.metadata.process == b.metadata.process && a.metadata.processPath == b.metadata.processPath;
}

} // namespace

ConnectionListModel::ConnectionListModel(QObject* parent)
    : QAbstractTableModel(parent), m_digits(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{}

void ConnectionListModel::update(const QList<ConnectionItem>& connections)
{
    // Known rows change in place: only the cells that moved are announced.
    std::vector<bool> listed(size_t(m_rows.size()), false);
    int firstChanged = -1;
    int lastChanged = -1;
    bool metadataChanged = false;
    QList<const ConnectionItem*> added;
    // The kernel lists its connections in much the same order every time: the row after the last one found
    // is tried before the lookup.
    int row = -1;
    for (const ConnectionItem& item : connections) {
        if (++row >= m_rows.size() || m_rows[row].id != item.id) {
            const auto known = m_rowOf.constFind(item.id);
            if (known == m_rowOf.cend()) {
                added.append(&item);
                --row;
                continue;
            }
            row = *known;
        }
        listed[size_t(row)] = true;
        ConnectionItem& current = m_rows[row];
        // Every message moves the counters; what the other columns show changes rarely (a sniffed host,
        // a new chain), and comparing all of a connection's metadata 10 000 times a second would cost more
        // than the rest of the update.
        const bool shownChanged = current.chains != item.chains || current.rule != item.rule ||
                                  current.rulePayload != item.rulePayload ||
                                  !sameShownMetadata(current, item);
        if (shownChanged) {
            current = item;
            metadataChanged = true;
        } else if (current.upload != item.upload || current.download != item.download ||
                   current.uploadSpeed != item.uploadSpeed || current.downloadSpeed != item.downloadSpeed) {
            current.upload = item.upload;
            current.download = item.download;
            current.uploadSpeed = item.uploadSpeed;
            current.downloadSpeed = item.downloadSpeed;
        } else {
            continue;
        }
        firstChanged = firstChanged < 0 ? row : qMin(firstChanged, row);
        lastChanged = qMax(lastChanged, row);
    }
    // Durations move with the clock (setNow), not with the kernel's messages; leaving them and the host
    // out keeps a sorted or filtered view from sorting or filtering every row again.
    if (firstChanged >= 0)
        Q_EMIT dataChanged(index(firstChanged, metadataChanged ? 0 : UploadSpeedColumn),
                           index(lastChanged, metadataChanged ? ColumnCount - 1 : DownloadColumn),
                           metadataChanged ? QList<int>() : QList<int>{Qt::DisplayRole, SortRole});

    // Vanished rows go in runs, from the end, so every index stays valid.
    bool removed = false;
    for (int row = int(m_rows.size()) - 1; row >= 0;) {
        if (listed[size_t(row)]) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !listed[size_t(first - 1)])
            --first;
        beginRemoveRows({}, first, row);
        m_rows.remove(first, row - first + 1);
        endRemoveRows();
        removed = true;
        row = first - 1;
    }
    if (removed) {
        m_rowOf.clear();
        for (int row = 0; row < m_rows.size(); ++row)
            m_rowOf.insert(m_rows[row].id, row);
    }

    if (!added.isEmpty()) {
        const int first = int(m_rows.size());
        beginInsertRows({}, first, first + int(added.size()) - 1);
        for (const ConnectionItem* item : std::as_const(added)) {
            m_rowOf.insert(item->id, int(m_rows.size()));
            m_rows.append(*item);
        }
        endInsertRows();
    }
}

const ConnectionItem* ConnectionListModel::connectionAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? &m_rows[row] : nullptr;
}

void ConnectionListModel::setNow(const QDateTime& now)
{
    m_now = now;
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0, DurationColumn), index(int(m_rows.size()) - 1, DurationColumn),
                           {Qt::DisplayRole});
}

int ConnectionListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ConnectionListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ConnectionListModel::display(const ConnectionItem& item, int column) const
{
    switch (column) {
    case HostColumn: {
        const QString host = item.displayHost();
        const QString port = item.metadata.destinationPort;
        return port.isEmpty() ? host : host + QLatin1Char(':') + port;
    }
    case ProcessColumn:
        return item.metadata.process;
    case RuleColumn:
        return item.rulePayload.isEmpty()
                   ? item.rule
                   : item.rule + QStringLiteral(" (") + item.rulePayload + QLatin1Char(')');
    case ChainColumn:
        return item.chainDescription();
    case UploadSpeedColumn:
        return RateFormatter::rate(item.uploadSpeed);
    case DownloadSpeedColumn:
        return RateFormatter::rate(item.downloadSpeed);
    case UploadColumn:
        return RateFormatter::bytes(item.upload);
    case DownloadColumn:
        return RateFormatter::bytes(item.download);
    case DurationColumn:
        return RateFormatter::duration(item.start.isValid() ? item.start.secsTo(m_now) : 0);
    default:
        return {};
    }
}

QVariant ConnectionListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ConnectionItem& item = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return display(item, index.column());
    case ConnectionIdRole:
        return item.id;
    case SortRole:
        switch (index.column()) {
        case UploadSpeedColumn:
            return item.uploadSpeed;
        case DownloadSpeedColumn:
            return item.downloadSpeed;
        case UploadColumn:
            return item.upload;
        case DownloadColumn:
            return item.download;
        case DurationColumn:
            // Every duration grows with the same clock, so the order by duration is the order by start,
            // which the clock never changes.
            return item.start.isValid() ? -item.start.toMSecsSinceEpoch() : qint64(0);
        default:
            return display(item, index.column()).toString().toLower();
        }
    case SearchTextRole:
        return QStringList{item.displayHost(),    item.metadata.destinationIP,
                           item.metadata.process, item.rule,
                           item.rulePayload,      item.chains.join(QLatin1Char(' '))}
            .join(QLatin1Char('\n'));
    case Qt::TextAlignmentRole:
        if (index.column() >= UploadSpeedColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::FontRole:
        // Numbers that change every second keep their width.
        if (index.column() >= UploadSpeedColumn)
            return m_digits;
        return {};
    case Qt::ToolTipRole:
        if (index.column() == HostColumn)
            return item.destination() + QStringLiteral("\n") + item.metadata.processPath;
        return {};
    default:
        return {};
    }
}

QVariant ConnectionListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList titles{
        QStringLiteral("Host"),         QStringLiteral("Process"),      QStringLiteral("Rule"),
        QStringLiteral("Chain"),        QStringLiteral("\u2191 Rate"),  QStringLiteral("\u2193 Rate"),
        QStringLiteral("\u2191 Total"), QStringLiteral("\u2193 Total"), QStringLiteral("Duration")};
    return titles.value(section);
}

} // namespace tarnwick
