#include "AppCommand.h"

#include <QJsonValue>

namespace tarnwick {

namespace {

using FieldType = AppCommand::FieldType;

constexpr AppCommand::Field required(const char* name, FieldType type = FieldType::text)
{
    return {name, type, true};
}

constexpr AppCommand::Field optional(const char* name, FieldType type = FieldType::text)
{
    return {name, type, false};
}

const AppCommand::Case* findCase(const QString& name)
{
    for (const AppCommand::Case& known : AppCommand::cases()) {
        if (name == QLatin1String(known.name))
            return &known;
    }
    return nullptr;
}

bool hasType(const QJsonValue& value, FieldType type)
{
    switch (type) {
    case FieldType::text:
        return value.isString();
    case FieldType::integer:
        return value.isDouble() && value.toDouble() == double(value.toInteger());
    case FieldType::boolean:
        return value.isBool();
    }
    return false;
}

} // namespace

const QList<AppCommand::Case>& AppCommand::cases()
{
    static const QList<Case> all{
        {"getProfiles", {}},
        {"switchProfile", {required("name")}},
        {"restartKernel", {}},
        {"getStatus", {}},
        {"getProviders", {}},
        {"healthCheck", {}},
        {"checkKernelUpdate", {}},
        {"upgradeKernel", {required("channel")}},
        {"checkAppUpdate", {}},
        {"upgradeApp", {}},
        // What a person without a window needs beyond these.
        {"setMode", {required("mode")}},
        {"startKernel", {}},
        {"stopKernel", {}},
        // The rules of the active profile; indexes count its entries, enabled and disabled, from 0.
        {"getRules", {}},
        {"insertRule", {required("rule"), optional("index", FieldType::integer)}},
        {"updateRule", {required("index", FieldType::integer), required("rule")}},
        {"deleteRule", {required("index", FieldType::integer)}},
        {"toggleRule", {required("index", FieldType::integer)}},
        {"swapRules", {required("index", FieldType::integer), required("with", FieldType::integer)}},
        // "source": an absolute file path or a subscription URL.
        {"importProfile",
         {required("source"), optional("name"), optional("intervalHours", FieldType::integer)}},
        // Without "name": every remote profile.
        {"updateProfiles", {optional("name")}},
        {"renameProfile", {required("name"), required("newName")}},
        {"deleteProfile", {required("name")}},
        {"getSettings", {optional("key")}},
        {"setSetting", {required("key"), optional("value"), optional("reset", FieldType::boolean)}},
        // The running kernel's proxy groups; a member's "delay" is -1 when it was never tested.
        {"getGroups", {}},
        {"selectProxy", {required("group"), required("name")}},
        // Without "group": every group a health check tests.
        {"testGroup", {optional("group")}},
        {"getConnections", {}},
        // "id", or "all": true.
        {"closeConnection", {optional("id"), optional("all", FieldType::boolean)}},
        {"getTraffic", {}},
        {"getProxyModes", {}},
        {"setSystemProxy", {required("enabled", FieldType::boolean)}},
        {"setTunMode", {required("enabled", FieldType::boolean)}},
        // Brings the main window forward. With "pid", only the application of that process answers: the
        // socket is the user's, the instance lock a workspace's.
        {"showWindow", {optional("pid", FieldType::integer)}},
    };
    return all;
}

AppCommand::AppCommand(QString name, QJsonObject fields)
    : m_name(std::move(name)), m_fields(std::move(fields))
{}

std::optional<AppCommand> AppCommand::decode(const QJsonObject& object, QString* why)
{
    const auto fail = [why](QString reason) -> std::optional<AppCommand> {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    };
    if (object.size() != 1)
        return fail(QStringLiteral("Invalid number of keys found, expected one."));
    const QString name = object.constBegin().key();
    const Case* known = findCase(name);
    if (!known)
        return fail(QStringLiteral("Unknown command \"%1\"").arg(name));
    const QJsonValue value = object.constBegin().value();
    if (!value.isObject())
        return fail(QStringLiteral("The fields of \"%1\" are not an object").arg(name));
    const QJsonObject fields = value.toObject();
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        const auto field = std::find_if(known->fields.cbegin(), known->fields.cend(),
                                        [&](const Field& f) { return it.key() == QLatin1String(f.name); });
        if (field == known->fields.cend())
            return fail(QStringLiteral("\"%1\" has no field \"%2\"").arg(name, it.key()));
        if (!hasType(it.value(), field->type))
            return fail(QStringLiteral("The field \"%1\" of \"%2\" has the wrong type").arg(it.key(), name));
    }
    for (const Field& field : known->fields) {
        if (field.required && !fields.contains(QLatin1String(field.name)))
            return fail(QStringLiteral("\"%1\" needs the field \"%2\"").arg(name, QLatin1String(field.name)));
    }
    return AppCommand(name, fields);
}

QJsonObject AppCommand::toJson() const
{
    return QJsonObject{{m_name, m_fields}};
}

QString AppCommand::text(const char* field) const
{
    return m_fields.value(QLatin1String(field)).toString();
}

std::optional<qint64> AppCommand::integer(const char* field) const
{
    const QJsonValue value = m_fields.value(QLatin1String(field));
    if (!value.isDouble())
        return std::nullopt;
    return value.toInteger();
}

bool AppCommand::boolean(const char* field) const
{
    return m_fields.value(QLatin1String(field)).toBool();
}

bool AppCommand::has(const char* field) const
{
    return m_fields.contains(QLatin1String(field));
}

AppResponse AppResponse::ok(QJsonObject data)
{
    return AppResponse{true, std::move(data), std::nullopt};
}

QJsonObject AppResponse::toJson() const
{
    QJsonObject object{{QStringLiteral("success"), success}};
    if (data)
        object.insert(QStringLiteral("data"), *data);
    if (error)
        object.insert(QStringLiteral("error"), *error);
    return object;
}

std::optional<AppResponse> AppResponse::fromJson(const QJsonObject& object)
{
    const QJsonValue success = object.value(QStringLiteral("success"));
    if (!success.isBool())
        return std::nullopt;
    AppResponse response{success.toBool(), std::nullopt, std::nullopt};
    if (const QJsonValue data = object.value(QStringLiteral("data")); data.isObject()) {
        QJsonObject texts;
        const QJsonObject values = data.toObject();
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            if (it.value().isString())
                texts.insert(it.key(), it.value());
        }
        response.data = texts;
    }
    if (const QJsonValue error = object.value(QStringLiteral("error")); error.isString())
        response.error = error.toString();
    return response;
}

} // namespace tarnwick
