#include "AppCommandGroups.h"
#include "AppState.h"
#include "AppUpdateFlow.h"
#include "config/EngineSettings.h"
#include "platform/Settings.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace tarnwick {

namespace {

enum class Kind
{
    boolean,
    integer,
    text,
};

// A setting the tool may show and change: its type, its default as the settings pages show it, and
// when a change takes effect.
struct Entry
{
    QString key;
    Kind kind;
    QString defaultValue;
    QString effect; // "reload": the running kernel reloads at once; "restart": at the next kernel start
};

// The engine settings (every one hot-reloaded into the running kernel) and the application's own.
const QList<Entry>& entries()
{
    static const QList<Entry> all = [] {
        QList<Entry> list;
        for (const EngineSettings::Setting& setting : EngineSettings::table()) {
            // TUN is switched by its own command, which also sets up what it needs.
            if (QLatin1String(setting.key) == QLatin1String("tunEnabled"))
                continue;
            const Kind kind = setting.conversion == EngineSettings::Conversion::Bool  ? Kind::boolean
                              : setting.conversion == EngineSettings::Conversion::Int ? Kind::integer
                                                                                      : Kind::text;
            list.append({QLatin1String(setting.key), kind, QString::fromUtf8(setting.defaultValue),
                         setting.conversion == EngineSettings::Conversion::None ? QStringLiteral("restart")
                                                                                : QStringLiteral("reload")});
        }
        list.append(
            {QStringLiteral("apiPort"), Kind::integer, QStringLiteral("9090"), QStringLiteral("restart")});
        list.append(
            {AppUpdateFlow::autoCheckKey, Kind::boolean, QStringLiteral("true"), QStringLiteral("restart")});
        list.append({AppUpdateFlow::includeAlphaKey, Kind::boolean, QStringLiteral("false"),
                     QStringLiteral("restart")});
        return list;
    }();
    return all;
}

const Entry* find(const QString& key)
{
    for (const Entry& entry : entries()) {
        if (entry.key == key)
            return &entry;
    }
    return nullptr;
}

std::optional<QString> current(const Settings& settings, const Entry& entry)
{
    switch (entry.kind) {
    case Kind::boolean:
        if (const std::optional<bool> value = settings.boolean(entry.key))
            return *value ? QStringLiteral("true") : QStringLiteral("false");
        return std::nullopt;
    case Kind::integer:
        if (const std::optional<qint64> value = settings.integer(entry.key))
            return QString::number(*value);
        return std::nullopt;
    case Kind::text:
        return settings.text(entry.key);
    }
    return std::nullopt;
}

QJsonObject described(const Settings& settings, const Entry& entry)
{
    const std::optional<QString> value = current(settings, entry);
    return {{QStringLiteral("key"), entry.key},
            {QStringLiteral("value"), value.value_or(entry.defaultValue)},
            {QStringLiteral("default"), entry.defaultValue},
            {QStringLiteral("changed"), value.has_value()},
            {QStringLiteral("effect"), entry.effect}};
}

QString unknownKey(const QString& key)
{
    return QStringLiteral("Unknown setting: %1 (tarnwick settings lists them)").arg(key);
}

QCoro::Task<AppResponse> getSettings(QPointer<AppState> state, AppCommand command)
{
    const QString key = command.text("key");
    QJsonArray list;
    for (const Entry& entry : entries()) {
        if (key.isEmpty() || entry.key == key)
            list.append(described(state->settings(), entry));
    }
    if (!key.isEmpty() && list.isEmpty())
        co_return AppResponse::failure(unknownKey(key));
    co_return AppResponse::ok(
        {{QStringLiteral("json"), QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact))}});
}

QCoro::Task<AppResponse> setSetting(QPointer<AppState> state, AppCommand command)
{
    const Entry* entry = find(command.text("key"));
    if (!entry)
        co_return AppResponse::failure(unknownKey(command.text("key")));
    Settings& settings = state->settings();
    if (command.boolean("reset")) {
        settings.remove(entry->key);
    } else {
        if (!command.has("value"))
            co_return AppResponse::failure(QStringLiteral("No value given for ") + entry->key);
        const QString value = command.text("value");
        switch (entry->kind) {
        case Kind::boolean:
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                co_return AppResponse::failure(
                    QStringLiteral("%1 is true or false, not \"%2\"").arg(entry->key, value));
            settings.setBoolean(entry->key, value == QLatin1String("true"));
            break;
        case Kind::integer: {
            bool ok = false;
            const qint64 number = value.toLongLong(&ok);
            if (!ok || number < 0)
                co_return AppResponse::failure(
                    QStringLiteral("%1 is a whole number of 0 or more, not \"%2\"").arg(entry->key, value));
            settings.setInteger(entry->key, number);
            break;
        }
        case Kind::text:
            settings.setText(entry->key, value);
            break;
        }
    }
    QJsonObject data;
    const QJsonObject description = described(settings, *entry);
    for (auto it = description.constBegin(); it != description.constEnd(); ++it)
        data.insert(it.key(), it.value().isBool() ? QJsonValue(it.value().toBool() ? QStringLiteral("true")
                                                                                   : QStringLiteral("false"))
                                                  : QJsonValue(it.value()));
    co_return AppResponse::ok(data);
}

} // namespace

QHash<QString, AppCommandGroups::Function> AppCommandGroups::settingsCommands()
{
    return {
        {QStringLiteral("getSettings"), getSettings},
        {QStringLiteral("setSetting"), setSetting},
    };
}

} // namespace tarnwick
