#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarnwick {

// One request on the control socket: an object with exactly one key naming the command, whose value is an
// object of the command's fields ({} when it has none), e.g. {"switchProfile":{"name":"Home"}}.
class AppCommand final
{
public:
    enum class FieldType
    {
        text,
        integer,
        boolean,
    };
    struct Field
    {
        const char* name;
        FieldType type;
        bool required;
    };
    struct Case
    {
        const char* name;
        QList<Field> fields;
    };

    // Every command the application answers, in declaration order.
    static const QList<Case>& cases();

    AppCommand(QString name, QJsonObject fields = {});

    // The command an object names, or nothing when it has not exactly one key, names no known command, or
    // a field is missing, unknown or of the wrong type. `why`, when given, receives the reason.
    static std::optional<AppCommand> decode(const QJsonObject& object, QString* why = nullptr);
    QJsonObject toJson() const;

    const QString& name() const { return m_name; }
    const QJsonObject& fields() const { return m_fields; }
    QString text(const char* field) const;
    std::optional<qint64> integer(const char* field) const;
    bool boolean(const char* field) const;
    bool has(const char* field) const;

private:
    QString m_name;
    QJsonObject m_fields;
};

// The answer to one request: "success" always, "data" (text values) and "error" when set.
struct AppResponse
{
    bool success = false;
    std::optional<QJsonObject> data;
    std::optional<QString> error;

    static AppResponse ok(QJsonObject data = {});
    static AppResponse okWithoutData() { return AppResponse{true, std::nullopt, std::nullopt}; }
    static AppResponse failure(QString error) { return AppResponse{false, std::nullopt, std::move(error)}; }

    QJsonObject toJson() const;
    // Nothing when "success" is missing or not a boolean; a "data" value that is not text is dropped.
    static std::optional<AppResponse> fromJson(const QJsonObject& object);
};

} // namespace tarnwick
