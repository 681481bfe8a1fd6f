#pragma once

#include "config/RuleStore.h"

#include <QAbstractTableModel>
#include <QHash>

namespace tarnwick {

// The rule entries of a profile in file order, with the all-time hits the traffic history counted for
// each (type, payload) pair.
class RuleListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        IndexColumn,
        EnabledColumn,
        TypeColumn,
        PayloadColumn,
        PolicyColumn,
        HitsColumn,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    void setEntries(QList<RuleEntry> entries);
    const QList<RuleEntry>& entries() const { return m_entries; }
    // Hits per hitKey().
    void setHits(QHash<QString, int> hits);
    // The key of a rule type and payload under which the history's counts are found: the profile's
    // "DOMAIN-SUFFIX" and the kernel's "DomainSuffix" give the same key.
    static QString hitKey(const QString& type, const QString& payload);
    int hits(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Checking or unchecking the enabled box asks for a toggle; the page makes it.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void toggleRequested(qsizetype index);

private:
    struct Row
    {
        QString type;
        QString payload;
        QString policy;
    };
    QList<RuleEntry> m_entries;
    QList<Row> m_rows;
    QHash<QString, int> m_hits;
};

} // namespace tarnwick
