#pragma once

#include "config/yaml/Mark.h"
#include "config/yaml/NativeValue.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cmath>
#include <ostream>

// Readable gtest output for Qt's text types (found by argument-dependent lookup in the global namespace)
// and for the values of this application that tests compare.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '[';
    for (qsizetype i = 0; i < list.size(); ++i)
        *out << (i ? ", " : "") << '"' << list[i].toStdString() << '"';
    *out << ']';
}
inline void PrintTo(const QJsonObject& object, std::ostream* out)
{
    *out << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}
inline void PrintTo(const QJsonArray& array, std::ostream* out)
{
    *out << QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

namespace tarnwick {

inline void PrintTo(const NativeValue& value, std::ostream* out)
{
    if (value.isDouble() && !std::isfinite(value.toDouble()))
        *out << value.toDouble();
    else
        *out << value.toJson().toStdString();
}

inline void PrintTo(const Mark& mark, std::ostream* out)
{
    *out << mark.toString().toStdString() << " @" << mark.utf8Offset;
}

} // namespace tarnwick
