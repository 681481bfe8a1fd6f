#include "LogListModel.h"

#include <QFontDatabase>

namespace tarnwick {

LogListModel::LogListModel(QObject* parent) : QAbstractTableModel(parent) {}

void LogListModel::update(const QList<LogEntry>& entries)
{
    // Where the kept rows continue in the new list: the first new entry's place among the rows.
    qsizetype keepFrom = m_rows.size();
    if (!entries.isEmpty()) {
        for (qsizetype row = 0; row < m_rows.size(); ++row) {
            if (m_rows[row].id == entries.first().id) {
                keepFrom = row;
                break;
            }
        }
    }
    const qsizetype kept = qMin(m_rows.size() - keepFrom, entries.size());
    // Anything that does not line up (a store that was cleared and refilled) is replaced row by row.
    bool lined = true;
    for (qsizetype i = 0; i < kept && lined; ++i)
        lined = m_rows[keepFrom + i].id == entries[i].id;
    if (!lined)
        keepFrom = m_rows.size();

    if (keepFrom > 0) {
        beginRemoveRows({}, 0, int(keepFrom) - 1);
        m_rows.remove(0, keepFrom);
        endRemoveRows();
    }
    const qsizetype stay = lined ? qMin(m_rows.size(), entries.size()) : 0;
    if (m_rows.size() > stay) {
        beginRemoveRows({}, int(stay), int(m_rows.size()) - 1);
        m_rows.resize(stay);
        endRemoveRows();
    }
    if (entries.size() > stay) {
        beginInsertRows({}, int(stay), int(entries.size()) - 1);
        m_rows.append(entries.mid(stay));
        endInsertRows();
    }
}

const LogEntry* LogListModel::entryAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? &m_rows[row] : nullptr;
}

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LogListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const LogEntry& entry = m_rows[index.row()];
    if (role == Qt::FontRole && index.column() == TimeColumn)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (role == Qt::ToolTipRole && index.column() == MessageColumn)
        return entry.message;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return entry.time.value_or(QString());
    case LevelColumn:
        return entry.level.toUpper();
    case MessageColumn:
        return entry.message;
    default:
        return {};
    }
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case LevelColumn:
        return QStringLiteral("Level");
    case MessageColumn:
        return QStringLiteral("Message");
    default:
        return {};
    }
}

} // namespace tarnwick
