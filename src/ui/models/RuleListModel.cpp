#include "RuleListModel.h"

#include "ui/windows/RuleDraft.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>

namespace tarnwick {

QString RuleListModel::hitKey(const QString& type, const QString& payload)
{
    QString normal = type.toUpper().remove(QLatin1Char('-'));
    // The kernel names two types differently from their rule words.
    if (normal == QLatin1String("PROCESSNAME"))
        normal = QStringLiteral("PROCESS");
    else if (normal == QLatin1String("IPCIDR6"))
        normal = QStringLiteral("IPCIDR");
    return normal + QChar(0x1f) + payload;
}

void RuleListModel::setEntries(QList<RuleEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    m_rows.clear();
    for (const RuleEntry& entry : std::as_const(m_entries)) {
        const RuleDraft draft = RuleDraft::parse(entry.text);
        QString policy = draft.policy;
        if (!draft.options.isEmpty())
            policy += QStringLiteral(" (") + draft.options.join(QStringLiteral(", ")) + QLatin1Char(')');
        m_rows.append({draft.type, draft.payload, policy});
    }
    endResetModel();
}

void RuleListModel::setHits(QHash<QString, int> hits)
{
    m_hits = std::move(hits);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, HitsColumn), index(int(m_rows.size()) - 1, HitsColumn));
}

int RuleListModel::hits(int row) const
{
    return m_hits.value(hitKey(m_rows[row].type, m_rows[row].payload));
}

int RuleListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int RuleListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RuleListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const RuleEntry& entry = m_entries[index.row()];
    const Row& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case IndexColumn:
            return QString::number(entry.index);
        case TypeColumn:
            return row.type;
        case PayloadColumn:
            return row.payload;
        case PolicyColumn:
            return row.policy;
        case HitsColumn:
            return QLocale().toString(hits(index.row()));
        default:
            return {};
        }
    case Qt::CheckStateRole:
        if (index.column() == EnabledColumn)
            return entry.enabled ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::ToolTipRole:
        return entry.enabled ? entry.text
                             : entry.text + QStringLiteral("\n(disabled: kept in the file as a comment)");
    case Qt::ForegroundRole:
        if (!entry.enabled)
            return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == IndexColumn || index.column() == HitsColumn)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::FontRole:
        // Digits of one width, so the counts line up and do not jitter as they change.
        if (index.column() == IndexColumn || index.column() == HitsColumn)
            return QFontDatabase::systemFont(QFontDatabase::FixedFont);
        return {};
    case Qt::AccessibleTextRole:
        if (index.column() == EnabledColumn)
            return entry.enabled ? QStringLiteral("Enabled") : QStringLiteral("Disabled");
        return {};
    default:
        return {};
    }
}

QVariant RuleListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList titles{QStringLiteral("#"),      QStringLiteral("On"),
                                    QStringLiteral("Type"),   QStringLiteral("Payload"),
                                    QStringLiteral("Policy"), QStringLiteral("Hits")};
    return titles.value(section);
}

Qt::ItemFlags RuleListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == EnabledColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool RuleListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != EnabledColumn || index.row() >= m_entries.size())
        return false;
    const bool enable = value.toInt() == Qt::Checked;
    if (enable != m_entries[index.row()].enabled)
        emit toggleRequested(m_entries[index.row()].index);
    return false;
}

} // namespace tarnwick
