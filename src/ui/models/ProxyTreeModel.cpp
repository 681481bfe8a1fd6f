#include "ProxyTreeModel.h"

#include "DelayStyle.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QSet>

namespace tarnwick {

namespace {

// Group rows carry no parent; member rows carry their group's key, which stays the same while the group
// moves, so persistent member indexes follow their group.
constexpr quintptr groupTag = 0;

} // namespace

ProxyTreeModel::ProxyTreeModel(QObject* parent)
    : QAbstractItemModel(parent), m_palette(QApplication::palette())
{}

void ProxyTreeModel::update(const QList<Group>& groups)
{
    m_palette = QApplication::palette();
    QSet<QString> names;
    for (const Group& group : groups)
        names.insert(group.name);
    for (int row = int(m_groups.size()) - 1; row >= 0; --row) {
        if (names.contains(m_groups[row].name))
            continue;
        beginRemoveRows({}, row, row);
        m_groups.removeAt(row);
        m_keys.removeAt(row);
        indexKeys();
        endRemoveRows();
    }
    for (int i = 0; i < groups.size(); ++i) {
        int found = -1;
        for (int j = i; j < m_groups.size(); ++j) {
            if (m_groups[j].name == groups[i].name) {
                found = j;
                break;
            }
        }
        if (found < 0) {
            beginInsertRows({}, i, i);
            Group group = groups[i];
            group.members.clear();
            m_groups.insert(i, group);
            m_keys.insert(i, m_nextKey++);
            indexKeys();
            endInsertRows();
            updateMembers(i, groups[i].members);
            continue;
        }
        if (found != i) {
            beginMoveRows({}, found, found, {}, i);
            m_groups.move(found, i);
            m_keys.move(found, i);
            indexKeys();
            endMoveRows();
        }
        Group& current = m_groups[i];
        const bool headerChanged =
            current.title != groups[i].title || current.type != groups[i].type ||
            current.selected != groups[i].selected || current.isSelectable != groups[i].isSelectable ||
            current.delay != groups[i].delay || current.isTesting != groups[i].isTesting;
        if (headerChanged) {
            QList<Member> members = std::move(current.members);
            current = groups[i];
            current.members = std::move(members);
            Q_EMIT dataChanged(index(i, 0), index(i, ColumnCount - 1));
        }
        updateMembers(i, groups[i].members);
    }
}

void ProxyTreeModel::updateMembers(int groupRow, const QList<Member>& members)
{
    Group& group = m_groups[groupRow];
    const QModelIndex parent = index(groupRow, 0);
    bool sameNames = group.members.size() == members.size();
    for (qsizetype i = 0; sameNames && i < members.size(); ++i)
        sameNames = group.members[i].name == members[i].name;
    if (sameNames) {
        int first = -1;
        int last = -1;
        for (int i = 0; i < members.size(); ++i) {
            if (group.members[i] == members[i])
                continue;
            group.members[i] = members[i];
            first = first < 0 ? i : first;
            last = i;
        }
        if (first >= 0)
            Q_EMIT dataChanged(index(first, 0, parent), index(last, ColumnCount - 1, parent));
        return;
    }
    // The membership changed (unavailable nodes hidden or shown again, a provider updated): members that
    // left are removed and new ones inserted where they belong, so the rows that stay keep their selection.
    QSet<QString> incoming;
    incoming.reserve(members.size());
    for (const Member& member : members)
        incoming.insert(member.name);
    for (int row = int(group.members.size()) - 1; row >= 0;) {
        if (incoming.contains(group.members[row].name)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !incoming.contains(group.members[first - 1].name))
            --first;
        beginRemoveRows(parent, first, row);
        group.members.remove(first, row - first + 1);
        endRemoveRows();
        row = first - 1;
    }
    qsizetype kept = 0;
    for (qsizetype i = 0; i < members.size() && kept < group.members.size(); ++i)
        kept += members[i].name == group.members[kept].name ? 1 : 0;
    if (kept < group.members.size()) {
        // The order changed as well, which no profile does by itself: the members are replaced.
        beginRemoveRows(parent, 0, int(group.members.size()) - 1);
        group.members.clear();
        endRemoveRows();
    }
    for (int i = 0; i < members.size(); ++i) {
        if (i < group.members.size() && group.members[i].name == members[i].name) {
            if (!(group.members[i] == members[i])) {
                group.members[i] = members[i];
                Q_EMIT dataChanged(index(i, 0, parent), index(i, ColumnCount - 1, parent));
            }
            continue;
        }
        // New members up to the next one that stays go in as one run.
        const QString nextKept = i < group.members.size() ? group.members[i].name : QString();
        int last = i;
        while (last + 1 < members.size() && (i >= group.members.size() || members[last + 1].name != nextKept))
            ++last;
        beginInsertRows(parent, i, last);
        group.members = group.members.mid(0, i) + members.mid(i, last - i + 1) + group.members.mid(i);
        endInsertRows();
        i = last;
    }
}

void ProxyTreeModel::indexKeys()
{
    m_rowOfKey.clear();
    for (int row = 0; row < m_keys.size(); ++row)
        m_rowOfKey.insert(m_keys[row], row);
}

int ProxyTreeModel::rowOf(const QModelIndex& member) const
{
    return m_rowOfKey.value(member.internalId(), -1);
}

const ProxyTreeModel::Group* ProxyTreeModel::groupAt(int row) const
{
    return row >= 0 && row < m_groups.size() ? &m_groups[row] : nullptr;
}

QModelIndex ProxyTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_groups.size() ? createIndex(row, column, groupTag) : QModelIndex();
    if (parent.internalId() != groupTag || parent.row() >= m_groups.size())
        return {};
    return row < m_groups[parent.row()].members.size() ? createIndex(row, column, m_keys[parent.row()])
                                                       : QModelIndex();
}

QModelIndex ProxyTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == groupTag)
        return {};
    const int row = rowOf(child);
    return row < 0 ? QModelIndex() : createIndex(row, 0, groupTag);
}

int ProxyTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_groups.size());
    if (parent.internalId() != groupTag || parent.column() != 0 || parent.row() >= m_groups.size())
        return 0;
    return int(m_groups[parent.row()].members.size());
}

int ProxyTreeModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant ProxyTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == groupTag)
        return index.row() < m_groups.size() ? groupData(m_groups[index.row()], index.column(), role)
                                             : QVariant();
    const int groupRow = rowOf(index);
    if (groupRow < 0 || index.row() >= m_groups[groupRow].members.size())
        return {};
    const Group& group = m_groups[groupRow];
    return memberData(group, group.members[index.row()], index.column(), role);
}

QVariant ProxyTreeModel::groupData(const Group& group, int column, int role) const
{
    const QString& title = group.title.isEmpty() ? group.name : group.title;
    switch (role) {
    case GroupNameRole:
        return group.name;
    case IsSelectableRole:
        return group.isSelectable;
    case SearchTextRole:
        return title + QLatin1Char('\n') + group.type + QLatin1Char('\n') + group.selected;
    case Qt::DisplayRole:
        switch (column) {
        case NameColumn:
            return group.selected.isEmpty() ? title : title + QStringLiteral("  \u2192  ") + group.selected;
        case KindColumn:
            return group.type + QStringLiteral(" · %1").arg(group.members.size());
        case DelayColumn:
            return group.isTesting ? QStringLiteral("Testing…") : DelayStyle::text(group.delay);
        default:
            return {};
        }
    default:
        return rowStyle(column, role, true, title, group.delay);
    }
}

QVariant ProxyTreeModel::memberData(const Group& group, const Member& member, int column, int role) const
{
    switch (role) {
    case GroupNameRole:
        return group.name;
    case MemberNameRole:
        return member.name;
    case IsSelectableRole:
        return group.isSelectable;
    case SearchTextRole:
        return member.name + QLatin1Char('\n') + member.detail;
    case Qt::DisplayRole:
        switch (column) {
        case NameColumn:
            // A filled and an empty circle: the same width, so every member's name starts in one column.
            return (member.name == group.selected ? QStringLiteral("\u25CF ") : QStringLiteral("\u25CB ")) +
                   member.name;
        case KindColumn:
            return member.detail;
        case DelayColumn:
            return member.isTesting ? QStringLiteral("Testing…") : DelayStyle::text(member.delay);
        default:
            return {};
        }
    default:
        return rowStyle(column, role, member.name == group.selected, member.name, member.delay);
    }
}

QVariant ProxyTreeModel::rowStyle(int column, int role, bool boldName, const QString& name,
                                  const std::optional<qint64>& delay) const
{
    switch (role) {
    case Qt::FontRole:
        if (column == NameColumn && boldName) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return column == DelayColumn ? QVariant(QFontDatabase::systemFont(QFontDatabase::FixedFont))
                                     : QVariant();
    case Qt::ForegroundRole:
        return column == DelayColumn ? QVariant(DelayStyle::color(delay, m_palette)) : QVariant();
    case Qt::ToolTipRole:
        return column == NameColumn ? QVariant(name) : QVariant();
    case Qt::TextAlignmentRole:
        return column == DelayColumn ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    default:
        return {};
    }
}

QVariant ProxyTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QStringLiteral("Group / Node");
    case KindColumn:
        return QStringLiteral("Kind");
    case DelayColumn:
        return QStringLiteral("Delay");
    default:
        return {};
    }
}

} // namespace tarnwick
