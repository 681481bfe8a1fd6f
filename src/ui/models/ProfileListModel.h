#pragma once

#include "config/ProfileNode.h"
#include "config/SubscriptionInfo.h"

#include <QAbstractTableModel>
#include <QMap>
#include <optional>

namespace tarnwick {

// The profiles as a table: name (the active one marked), kind, last update, quota used and expiry from
// the subscription's information. Updated in place: rows are inserted, removed and changed by id, so a
// selection survives every refresh.
class ProfileListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        NameColumn,
        TypeColumn,
        UpdatedColumn,
        QuotaColumn,
        ExpiresColumn,
        ColumnCount
    };
    enum Role
    {
        ProfileIdRole = Qt::UserRole + 1,
        // The share of the quota used, 0 to 1; absent without a quota.
        QuotaFractionRole,
        IsActiveRole,
    };

    explicit ProfileListModel(QObject* parent = nullptr);

    // Quota records by subscription URL.
    void update(const QList<ProfileNode>& profiles, const QMap<QString, SubscriptionInfo>& quotas,
                const std::optional<QString>& activeName);
    std::optional<ProfileNode> profileAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row
    {
        ProfileNode profile;
        std::optional<SubscriptionInfo> quota;
        bool isActive = false;
        bool operator==(const Row&) const = default;
    };

    QList<Row> m_rows;
};

} // namespace tarnwick
