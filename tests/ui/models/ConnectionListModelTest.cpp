#include "ui/models/ConnectionListModel.h"

#include "ui/models/LogListModel.h"

#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

ConnectionItem connection(int id, qint64 download = 0)
{
    ConnectionItem item;
    item.id = QString::number(id);
    item.download = download;
    item.metadata.host = QStringLiteral("host%1.example").arg(id);
    item.metadata.destinationPort = QStringLiteral("443");
    item.rule = QStringLiteral("DomainSuffix");
    item.rulePayload = QStringLiteral("example");
    item.chains = {QStringLiteral("HK 01"), QStringLiteral("Proxy")};
    item.start = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    return item;
}

QStringList ids(const ConnectionListModel& model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.connectionAt(row)->id;
    return result;
}

} // namespace

TEST(ConnectionListModelTest, AppliesEachListInPlaceAndKeepsTheSortedViewStable)
{
    ConnectionListModel model;
    QSortFilterProxyModel sorted;
    sorted.setSourceModel(&model);
    sorted.setSortRole(ConnectionListModel::SortRole);
    sorted.setDynamicSortFilter(true);
    sorted.sort(ConnectionListModel::DownloadColumn, Qt::DescendingOrder);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.update(
        {connection(1, 10), connection(2, 20), connection(3, 30), connection(4, 40), connection(5, 50)});
    EXPECT_EQ(sorted.index(0, 0).data().toString(), QStringLiteral("host5.example:443"));
    const QPersistentModelIndex three = model.index(2, 0);

    // 2 and 4 close (two runs), 3 grows past everyone, 6 opens: nothing else is announced.
    model.update({connection(1, 10), connection(3, 900), connection(5, 50), connection(6, 60)});
    EXPECT_EQ(ids(model), (QStringList{"1", "3", "5", "6"}));
    EXPECT_EQ(removed.size(), 2);
    EXPECT_EQ(resets.size(), 0);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.first().at(0).value<QModelIndex>().row(), 2); // announced before 2 leaves
    EXPECT_EQ(changed.first().at(0).value<QModelIndex>().column(),
              int(ConnectionListModel::UploadSpeedColumn));
    EXPECT_EQ(three.row(), 1);
    EXPECT_EQ(sorted.index(0, 0).data().toString(), QStringLiteral("host3.example:443"));
    // In another order each connection still lands on its own row.
    model.update({connection(6, 61), connection(5, 50), connection(3, 900), connection(1, 10)});
    EXPECT_EQ(ids(model), (QStringList{"1", "3", "5", "6"}));
    EXPECT_EQ(model.index(3, ConnectionListModel::DownloadColumn).data().toString(), QStringLiteral("61 B"));

    model.setNow(QDateTime(QDate(2026, 1, 1), QTime(12, 3, 12), Qt::UTC));
    const auto cell = [&](int column) { return model.index(1, column).data().toString(); };
    EXPECT_EQ(cell(ConnectionListModel::RuleColumn), QStringLiteral("DomainSuffix (example)"));
    EXPECT_EQ(cell(ConnectionListModel::DownloadColumn), QStringLiteral("900 B"));
    EXPECT_EQ(cell(ConnectionListModel::DurationColumn), QStringLiteral("3 m 12 s"));

    model.update({});
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(resets.size(), 0);
}

TEST(LogListModelTest, AppendsAtTheEndAndDropsAtTheFront)
{
    const auto entry = [](int id) {
        return LogEntry{QString::number(id), QStringLiteral("warning"), QStringLiteral("line %1").arg(id),
                        QStringLiteral("10:15:02")};
    };
    LogListModel model;
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.update({entry(1), entry(2), entry(3)});
    const QPersistentModelIndex three = model.index(2, 0);

    // The cap drops two at the front while three arrive.
    model.update({entry(3), entry(4), entry(5), entry(6)});
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(three.row(), 0);
    EXPECT_EQ(inserted.size(), 2);
    EXPECT_EQ(model.index(3, LogListModel::MessageColumn).data().toString(), QStringLiteral("line 6"));
    EXPECT_EQ(model.index(3, LogListModel::LevelColumn).data().toString(), QStringLiteral("WARNING"));

    // Cleared and refilled: the old rows go, the new ones come, still no reset.
    model.update({entry(7)});
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.entryAt(0)->id, QStringLiteral("7"));
    EXPECT_EQ(resets.size(), 0);
}
