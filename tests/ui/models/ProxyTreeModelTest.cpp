#include "ui/models/ProxyTreeModel.h"

#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

using Group = ProxyTreeModel::Group;
using Member = ProxyTreeModel::Member;

Group group(const QString& name, const QStringList& members, const QString& selected = {})
{
    Group result{name, {}, QStringLiteral("Selector"), selected, true, std::nullopt, false, {}};
    for (const QString& member : members)
        result.members.append({member, QStringLiteral("Socks5"), std::nullopt, false});
    return result;
}

QStringList memberNames(const ProxyTreeModel& model, int groupRow)
{
    QStringList names;
    const QModelIndex parent = model.index(groupRow, 0);
    for (int row = 0; row < model.rowCount(parent); ++row)
        names << model.index(row, 0, parent).data(ProxyTreeModel::MemberNameRole).toString();
    return names;
}

} // namespace

// Every kind of change arrives as rows inserted, removed, moved or changed: the current member of an
// untouched group stays current, and nothing is reset.
TEST(ProxyTreeModelTest, ChangesArriveInPlaceAndTheCurrentMemberStays)
{
    struct Case
    {
        const char* what;
        QList<Group> next;
        QStringList groupOrder;
    };
    Group delayed = group("A", {"a1", "a2", "a3"});
    delayed.members[1].delay = 0;
    delayed.delay = 120;
    const QList<Case> cases{
        {"delays", {delayed, group("B", {"b1"})}, {"A", "B"}},
        {"selection", {group("A", {"a1", "a2", "a3"}, "a3"), group("B", {"b1"})}, {"A", "B"}},
        {"other group's members", {group("A", {"a1", "a2", "a3"}), group("B", {"b2", "b3"})}, {"A", "B"}},
        {"members leave and come", {group("A", {"a0", "a2", "a4", "a5"}), group("B", {"b1"})}, {"A", "B"}},
        {"group added before",
         {group("N", {}), group("A", {"a1", "a2", "a3"}), group("B", {"b1"})},
         {"N", "A", "B"}},
        {"groups moved", {group("B", {"b1"}), group("A", {"a1", "a2", "a3"})}, {"B", "A"}},
        {"group removed", {group("A", {"a1", "a2", "a3"})}, {"A"}},
    };
    for (const Case& test : cases) {
        ProxyTreeModel model;
        model.update({group("A", {"a1", "a2", "a3"}), group("B", {"b1"})});
        QSortFilterProxyModel filter;
        filter.setSourceModel(&model);
        QItemSelectionModel selection(&filter);
        selection.setCurrentIndex(filter.index(1, 0, filter.index(0, 0)), QItemSelectionModel::SelectCurrent);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        model.update(test.next);
        QStringList order;
        for (int row = 0; row < model.rowCount(); ++row)
            order << model.groupAt(row)->name;
        EXPECT_EQ(order, test.groupOrder) << test.what;
        EXPECT_EQ(selection.currentIndex().data(ProxyTreeModel::MemberNameRole).toString(),
                  QStringLiteral("a2"))
            << test.what;
        EXPECT_EQ(resets.size(), 0) << test.what;
        for (int row = 0; row < model.rowCount(); ++row) {
            QStringList expected;
            for (const Member& member : test.next[row].members)
                expected << member.name;
            EXPECT_EQ(memberNames(model, row), expected) << test.what;
        }
    }
}

TEST(ProxyTreeModelTest, ShowsDelaysByLevelAndTheSelection)
{
    ProxyTreeModel model;
    Group proxy = group("Proxy", {"fast", "dead", "untested"}, "fast");
    proxy.members[0].delay = 95;
    proxy.members[1].delay = 0;
    proxy.delay = 95;
    Group local = group("__LOCAL_PROXIES__", {"fast"});
    local.title = QStringLiteral("Local Proxies");
    model.update({proxy, local});

    const QModelIndex parent = model.index(0, 0);
    const auto cell = [&](int row, int column) { return model.index(row, column, parent).data().toString(); };
    EXPECT_EQ(model.index(0, ProxyTreeModel::NameColumn).data().toString(),
              QStringLiteral("Proxy  \u2192  fast"));
    EXPECT_EQ(model.index(0, ProxyTreeModel::DelayColumn).data().toString(), QStringLiteral("95 ms"));
    EXPECT_EQ(cell(0, ProxyTreeModel::NameColumn), QStringLiteral("\u25CF fast"));
    EXPECT_EQ(cell(1, ProxyTreeModel::DelayColumn), QStringLiteral("Timeout"));
    EXPECT_EQ(cell(2, ProxyTreeModel::DelayColumn), QString());
    EXPECT_NE(model.index(0, ProxyTreeModel::DelayColumn, parent).data(Qt::ForegroundRole),
              model.index(1, ProxyTreeModel::DelayColumn, parent).data(Qt::ForegroundRole));
    EXPECT_EQ(model.index(1, ProxyTreeModel::NameColumn).data().toString(), QStringLiteral("Local Proxies"));
    EXPECT_EQ(model.index(1, 0).data(ProxyTreeModel::GroupNameRole).toString(),
              QStringLiteral("__LOCAL_PROXIES__"));
}
