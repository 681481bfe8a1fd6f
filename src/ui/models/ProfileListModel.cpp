#include "ProfileListModel.h"

#include "controller/RateFormatter.h"

#include <QDateTime>
#include <QFont>
#include <QLocale>
#include <QSet>

namespace tarnwick {

ProfileListModel::ProfileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ProfileListModel::update(const QList<ProfileNode>& profiles,
                              const QMap<QString, SubscriptionInfo>& quotas,
                              const std::optional<QString>& activeName)
{
    QList<Row> rows;
    QSet<QString> ids;
    for (const ProfileNode& profile : profiles) {
        Row row{profile, std::nullopt, activeName == profile.name};
        if (profile.url && quotas.contains(*profile.url))
            row.quota = quotas.value(*profile.url);
        rows.append(row);
        ids.insert(profile.id);
    }
    // Removals first, from the end so indexes stay valid.
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        if (ids.contains(m_rows[i].profile.id))
            continue;
        beginRemoveRows({}, i, i);
        m_rows.removeAt(i);
        endRemoveRows();
    }
    // Then walk the new order: change rows in place, move or insert where needed.
    for (int i = 0; i < rows.size(); ++i) {
        int found = -1;
        for (int j = i; j < m_rows.size(); ++j) {
            if (m_rows[j].profile.id == rows[i].profile.id) {
                found = j;
                break;
            }
        }
        if (found < 0) {
            beginInsertRows({}, i, i);
            m_rows.insert(i, rows[i]);
            endInsertRows();
            continue;
        }
        if (found != i) {
            beginMoveRows({}, found, found, {}, i);
            m_rows.move(found, i);
            endMoveRows();
        }
        if (!(m_rows[i] == rows[i])) {
            m_rows[i] = rows[i];
            Q_EMIT dataChanged(index(i, 0), index(i, ColumnCount - 1));
        }
    }
}

std::optional<ProfileNode> ProfileListModel::profileAt(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return std::nullopt;
    return m_rows[row].profile;
}

int ProfileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ProfileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProfileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& row = m_rows[index.row()];
    switch (role) {
    case ProfileIdRole:
        return row.profile.id;
    case IsActiveRole:
        return row.isActive;
    case QuotaFractionRole:
        if (row.quota && row.quota->total > 0)
            return qBound(0.0, double(row.quota->upload + row.quota->download) / double(row.quota->total),
                          1.0);
        return {};
    case Qt::FontRole:
        if (row.isActive && index.column() == NameColumn) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::ToolTipRole:
        if (index.column() == NameColumn)
            return row.profile.url.value_or(row.profile.fileName);
        return {};
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        break;
    default:
        return {};
    }
    switch (index.column()) {
    case NameColumn:
        return row.isActive ? row.profile.name + QStringLiteral("  \u2713") : row.profile.name;
    case TypeColumn:
        return row.profile.type == ProfileType::Remote ? QStringLiteral("Subscription")
                                                       : QStringLiteral("Local");
    case UpdatedColumn:
        return row.profile.lastUpdated
                   ? QLocale().toString(row.profile.lastUpdated->toLocalTime(), QLocale::ShortFormat)
                   : QString();
    case QuotaColumn:
        if (!row.quota || row.quota->total <= 0)
            return QString();
        return RateFormatter::bytes(row.quota->upload + row.quota->download) + QStringLiteral(" of ") +
               RateFormatter::bytes(row.quota->total);
    case ExpiresColumn:
        if (!row.quota || row.quota->expire <= 0)
            return QString();
        return QLocale().toString(QDateTime::fromSecsSinceEpoch(row.quota->expire).date(),
                                  QLocale::ShortFormat);
    default:
        return {};
    }
}

QVariant ProfileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case TypeColumn:
        return QStringLiteral("Kind");
    case UpdatedColumn:
        return QStringLiteral("Updated");
    case QuotaColumn:
        return QStringLiteral("Quota");
    case ExpiresColumn:
        return QStringLiteral("Expires");
    default:
        return {};
    }
}

} // namespace tarnwick
