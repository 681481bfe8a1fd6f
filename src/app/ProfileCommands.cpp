#include "AppCommandGroups.h"
#include "AppState.h"
#include "config/ProfileStore.h"
#include "config/SettingsNotice.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace tarnwick {

namespace {

std::optional<ProfileNode> findProfile(const AppState& state, const QString& name)
{
    for (const ProfileNode& node : state.profileNodes()) {
        if (node.name == name || node.fileName == name)
            return node;
    }
    return std::nullopt;
}

QJsonObject described(const ProfileNode& node)
{
    return {{QStringLiteral("name"), node.name},
            {QStringLiteral("fileName"), node.fileName},
            {QStringLiteral("type"), toString(node.type)}};
}

bool isActive(const AppState& state, const ProfileNode& node)
{
    return state.activeProfileName() == node.name;
}

QCoro::Task<AppResponse> importProfile(QPointer<AppState> state, AppCommand command)
{
    const QString source = command.text("source");
    const QString name = command.text("name");
    ProfileStore& profiles = state->profiles();
    ProfileNode node;
    if (source.startsWith(QLatin1String("http://")) || source.startsWith(QLatin1String("https://"))) {
        const std::optional<qint64> hours = command.integer("intervalHours");
        node = co_await profiles.importRemote(
            source, name, hours ? std::optional<double>(double(*hours) * 3600) : 24.0 * 3600);
    } else {
        if (!QFileInfo(source).isAbsolute())
            co_return AppResponse::failure(QStringLiteral("The profile path must be absolute: ") + source);
        node = co_await profiles.importLocal(source);
        if (!state)
            co_return AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));
        if (!name.isEmpty() && name != node.name) {
            co_await profiles.rename(node.id, name);
            node.name = name;
        }
    }
    if (!state)
        co_return AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));
    co_await state->reloadProfileList();
    if (!state)
        co_return AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));
    const ProfileNode listed = findProfile(*state, node.name).value_or(node);
    QJsonObject data = described(listed);
    // Keys of the profile that the settings decide, said once, here.
    const QStringList notes =
        SettingsNotice::forProfile(state->paths().profilesDirectory() + listed.fileName, state->settings());
    if (!notes.isEmpty())
        data.insert(QStringLiteral("notice"), notes.join(u'\n'));
    co_return AppResponse::ok(data);
}

QCoro::Task<AppResponse> updateProfiles(QPointer<AppState> state, AppCommand command)
{
    const QString name = command.text("name");
    QList<ProfileNode> targets;
    if (!name.isEmpty()) {
        const std::optional<ProfileNode> node = findProfile(*state, name);
        if (!node)
            co_return AppResponse::failure(QStringLiteral("Profile not found: ") + name);
        if (node->type != ProfileType::Remote)
            co_return AppResponse::failure(
                QStringLiteral("Profile %1 is a local file; only subscriptions are updated").arg(node->name));
        targets.append(*node);
    } else {
        for (const ProfileNode& node : state->profileNodes()) {
            if (node.type == ProfileType::Remote)
                targets.append(node);
        }
    }
    QJsonArray results;
    bool reloadActive = false;
    QStringList failures;
    for (const ProfileNode& node : targets) {
        QJsonObject result{{QStringLiteral("name"), node.name}};
        try {
            co_await state->profiles().updateRemote(node.id);
            result.insert(QStringLiteral("updated"), true);
            if (state && isActive(*state, node))
                reloadActive = true;
        } catch (const std::exception& error) {
            result.insert(QStringLiteral("updated"), false);
            result.insert(QStringLiteral("error"), describe(error));
            failures.append(node.name + QStringLiteral(": ") + describe(error));
        }
        if (!state)
            co_return AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));
        results.append(result);
    }
    co_await state->reloadProfileList();
    if (state && reloadActive && state->kernelStatus().isRunningOrStarting())
        co_await state->reloadRuntimeConfiguration();
    if (!failures.isEmpty())
        co_return AppResponse::failure(failures.join(u'\n'));
    co_return AppResponse::ok(
        {{QStringLiteral("json"), QString::fromUtf8(QJsonDocument(results).toJson(QJsonDocument::Compact))}});
}

QCoro::Task<AppResponse> renameProfile(QPointer<AppState> state, AppCommand command)
{
    const std::optional<ProfileNode> node = findProfile(*state, command.text("name"));
    if (!node)
        co_return AppResponse::failure(QStringLiteral("Profile not found: ") + command.text("name"));
    const QString newName = command.text("newName").trimmed();
    if (newName.isEmpty())
        co_return AppResponse::failure(QStringLiteral("The new name is empty"));
    if (const std::optional<ProfileNode> taken = findProfile(*state, newName); taken && taken->id != node->id)
        co_return AppResponse::failure(QStringLiteral("A profile named %1 exists already").arg(newName));
    const bool active = isActive(*state, *node);
    const QString fileName = co_await state->profiles().rename(node->id, newName);
    if (!state)
        co_return AppResponse::failure(QStringLiteral("Tarnwick is shutting down"));
    if (active)
        state->setActiveProfileName(newName);
    co_await state->reloadProfileList();
    co_return AppResponse::ok({{QStringLiteral("name"), newName}, {QStringLiteral("fileName"), fileName}});
}

QCoro::Task<AppResponse> deleteProfile(QPointer<AppState> state, AppCommand command)
{
    const std::optional<ProfileNode> node = findProfile(*state, command.text("name"));
    if (!node)
        co_return AppResponse::failure(QStringLiteral("Profile not found: ") + command.text("name"));
    if (isActive(*state, *node))
        co_return AppResponse::failure(
            QStringLiteral("Profile %1 is the active one; switch to another before deleting it")
                .arg(node->name));
    co_await state->profiles().remove(node->id);
    if (state)
        co_await state->reloadProfileList();
    co_return AppResponse::ok(described(*node));
}

} // namespace

QHash<QString, AppCommandGroups::Function> AppCommandGroups::profileCommands()
{
    return {
        {QStringLiteral("importProfile"), importProfile},
        {QStringLiteral("updateProfiles"), updateProfiles},
        {QStringLiteral("renameProfile"), renameProfile},
        {QStringLiteral("deleteProfile"), deleteProfile},
    };
}

} // namespace tarnwick
