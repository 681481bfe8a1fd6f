#pragma once

#include <QHashFunctions>
#include <QString>

namespace tarnwick {

// A position in a YAML text: 1-based line, 1-based column in Unicode scalars, and the 0-based byte offset
// in the UTF-8 encoding of the whole input (a leading byte-order mark counts).
struct Mark
{
    int line = 1;
    int column = 1;
    qint64 utf8Offset = 0;

    // "line:column"
    QString toString() const { return QString::number(line) + QLatin1Char(':') + QString::number(column); }

    friend bool operator==(const Mark&, const Mark&) = default;
};

inline size_t qHash(const Mark& mark, size_t seed = 0)
{
    return qHashMulti(seed, mark.line, mark.column, mark.utf8Offset);
}

} // namespace tarnwick
