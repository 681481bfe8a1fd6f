#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QPalette>
#include <optional>

namespace tarnwick {

// The policy page's tree: proxy groups (name, type, selection, effective delay) with their members (name,
// kind, delay) beneath. Updated in place: groups and members are matched by name, so expanded groups,
// selection and scrolling survive every refresh; a group of 20 000 members that only changes delays
// costs one pass over them.
class ProxyTreeModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    struct Member
    {
        QString name;
        QString detail;
        std::optional<qint64> delay;
        bool isTesting = false;
        bool operator==(const Member&) const = default;
    };
    struct Group
    {
        QString name;
        // Shown instead of the name where the name is an identifier (the local proxies).
        QString title;
        QString type;
        QString selected;
        bool isSelectable = false;
        std::optional<qint64> delay;
        bool isTesting = false;
        QList<Member> members;
        bool operator==(const Group&) const = default;
    };
    enum Column
    {
        NameColumn,
        KindColumn,
        DelayColumn,
        ColumnCount
    };
    enum Role
    {
        GroupNameRole = Qt::UserRole + 1, // the group a row belongs to (itself for a group)
        MemberNameRole,                   // absent on group rows
        IsSelectableRole,
        // Name, kind and selection, for the filter.
        SearchTextRole,
    };

    explicit ProxyTreeModel(QObject* parent = nullptr);

    void update(const QList<Group>& groups);
    const Group* groupAt(int row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void updateMembers(int groupRow, const QList<Member>& members);
    QVariant groupData(const Group& group, int column, int role) const;
    QVariant memberData(const Group& group, const Member& member, int column, int role) const;
    // What group and member rows show alike: the name bold where asked and whole as its tip; the delay in
    // a fixed font, right-aligned, in its level's colour.
    QVariant rowStyle(int column, int role, bool boldName, const QString& name,
                      const std::optional<qint64>& delay) const;

    void indexKeys();
    // The row of a member's group.
    int rowOf(const QModelIndex& member) const;

    QList<Group> m_groups;
    // One key per group, in row order, never reused.
    QList<quintptr> m_keys;
    QHash<quintptr, int> m_rowOfKey;
    quintptr m_nextKey = 1;
    QPalette m_palette;
};

} // namespace tarnwick
