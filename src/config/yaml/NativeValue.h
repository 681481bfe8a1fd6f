#pragma once

#include "NativeDictionary.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <vector>

namespace tarnwick {

// Failure to write or read JSON text.
class NativeValueError final : public Error
{
public:
    using Error::Error;
};

// A plain JSON-like value: what a YAML document, the engine settings and the runtime configuration all
// reduce to. Unlike QJsonValue it keeps 64-bit integers exact.
class NativeValue final
{
public:
    enum class Type
    {
        Null,
        Bool,
        Integer,
        Double,
        String,
        Array,
        Dictionary
    };
    using Array = std::vector<NativeValue>;
    using Dictionary = NativeDictionary; // keys kept sorted

    NativeValue() = default; // null
    NativeValue(std::nullptr_t) {}
    NativeValue(bool value) : m_type(Type::Bool) { m_storage.boolean = value; }
    NativeValue(int value) : NativeValue(qint64(value)) {}
    NativeValue(qint64 value) : m_type(Type::Integer) { m_storage.integer = value; }
    NativeValue(double value) : m_type(Type::Double) { m_storage.real = value; }
    NativeValue(QString value) : m_type(Type::String) { new (&m_storage.string) QString(std::move(value)); }
    NativeValue(const char* utf8) : NativeValue(QString::fromUtf8(utf8)) {}
    NativeValue(Array value);
    NativeValue(Dictionary value);
    NativeValue(const NativeValue& other);
    NativeValue(NativeValue&& other) noexcept;
    NativeValue& operator=(const NativeValue& other);
    NativeValue& operator=(NativeValue&& other) noexcept;
    ~NativeValue();

    Type type() const { return m_type; }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isDouble() const { return type() == Type::Double; }
    bool isString() const { return type() == Type::String; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Mistyped reads give the type's default: false, 0, 0.0, an empty text or an empty collection.
    // A double that holds an exact 64-bit integer reads as that integer; an integer reads as a double.
    bool toBool() const;
    qint64 toInteger() const;
    double toDouble() const;
    QString toString() const;
    // The text of a string without a copy; empty for any other type.
    QStringView stringView() const
    {
        return m_type == Type::String ? QStringView(m_storage.string) : QStringView();
    }
    const Array& toArray() const;
    const Dictionary& toDictionary() const;

    // Mutable access; a value of any other type (null included) is replaced by an empty collection first.
    Array& array();
    Dictionary& dictionary();

    // The value under `key` of a dictionary, or null when absent or when this is not a dictionary.
    const NativeValue& value(const QString& key) const;
    // Whether this is a dictionary holding `key`.
    bool contains(const QString& key) const;

    // Deep comparison; an Integer equals a Double of the same value.
    bool operator==(const NativeValue& other) const;

    enum class JsonFormat
    {
        Compact,
        Pretty
    };
    // Keys sorted, '/' never escaped, non-ASCII written as UTF-8. Pretty uses 2-space indentation and
    // ends without a line break. A non-finite double cannot be written: throws NativeValueError.
    QByteArray toJson(JsonFormat format = JsonFormat::Compact) const;
    // Parses JSON text (integers stay 64-bit integers when they fit); throws NativeValueError.
    static NativeValue fromJson(QByteArrayView json);

private:
    void copyScalar(const NativeValue& other) noexcept;
    void destroy() noexcept;

    // One word for the type and the payload in place: 32 bytes in all. A large profile holds hundreds of
    // thousands of values, and each separate allocation costs as much again to free.
    Type m_type = Type::Null;
    union Storage {
        Storage() : integer(0) {}
        ~Storage() {}
        bool boolean;
        qint64 integer;
        double real;
        QString string;
        Array array;
        Dictionary dictionary;
    } m_storage;
};

} // namespace tarnwick
