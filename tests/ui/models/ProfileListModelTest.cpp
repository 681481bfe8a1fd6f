#include "ui/models/ProfileListModel.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

ProfileNode profile(const char* id, const char* name, std::optional<QString> url = std::nullopt)
{
    return ProfileNode{QString::fromLatin1(id),
                       QString::fromUtf8(name),
                       url ? ProfileType::Remote : ProfileType::Local,
                       QString::fromUtf8(name) + QStringLiteral(".yaml"),
                       url,
                       std::nullopt,
                       std::nullopt};
}

QStringList names(const ProfileListModel& model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.profileAt(row)->name;
    return result;
}

} // namespace

TEST(ProfileListModelTest, UpdatesRowsInPlace)
{
    ProfileListModel model;
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const QString url = QStringLiteral("http://127.0.0.1/sub");
    model.update({profile("1", "Home"), profile("2", "Sub", url)}, {}, QStringLiteral("Home"));
    EXPECT_EQ(names(model), (QStringList{"Home", "Sub"}));
    EXPECT_EQ(inserted.size(), 2);
    const QPersistentModelIndex sub = model.index(1, 0);

    // The same list again changes nothing.
    model.update({profile("1", "Home"), profile("2", "Sub", url)}, {}, QStringLiteral("Home"));
    EXPECT_EQ(changed.size(), 0);

    // A quota arrives, the active profile changes, one is removed, one is added, the order changes.
    const SubscriptionInfo quota{256LL << 20, 768LL << 20, 4LL << 30, 1893456000};
    model.update({profile("3", "New"), profile("2", "Sub", url)}, {{url, quota}}, QStringLiteral("Sub"));
    EXPECT_EQ(names(model), (QStringList{"New", "Sub"}));
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(inserted.size(), 3);
    EXPECT_TRUE(sub.isValid());
    EXPECT_EQ(sub.row(), 1);
    EXPECT_GE(changed.size(), 1);
    EXPECT_EQ(moved.size(), 0);

    const auto cell = [&](int column, int role = Qt::DisplayRole) {
        return model.index(1, column).data(role);
    };
    EXPECT_EQ(cell(ProfileListModel::NameColumn).toString(), QStringLiteral("Sub  \u2713"));
    EXPECT_TRUE(cell(0, ProfileListModel::IsActiveRole).toBool());
    EXPECT_EQ(cell(ProfileListModel::TypeColumn).toString(), QStringLiteral("Subscription"));
    EXPECT_EQ(cell(ProfileListModel::QuotaColumn).toString(), QStringLiteral("1.0 GB of 4.0 GB"));
    EXPECT_DOUBLE_EQ(cell(0, ProfileListModel::QuotaFractionRole).toDouble(), 0.25);
    EXPECT_FALSE(cell(ProfileListModel::ExpiresColumn).toString().isEmpty());
    EXPECT_FALSE(model.index(0, 0).data(ProfileListModel::QuotaFractionRole).isValid());

    model.update({profile("2", "Sub", url), profile("3", "New")}, {{url, quota}}, QStringLiteral("Sub"));
    EXPECT_EQ(names(model), (QStringList{"Sub", "New"}));
    EXPECT_EQ(moved.size(), 1);
    EXPECT_EQ(sub.row(), 0);

    model.update({}, {}, std::nullopt);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(resets.size(), 0);
}
