#pragma once

#include "Mark.h"
#include "platform/Error.h"

namespace tarnwick {

// A YAML text that cannot be read. The description is the mark followed by what went wrong, e.g.
// "3:5: parser error: undefined alias '*base'".
class YAMLError final : public Error
{
public:
    enum class Kind
    {
        scanner,
        parser,
        unexpectedEndOfInput,
        depthLimitExceeded,
        // The native conversion would expand aliases beyond its bound (a "billion laughs" document).
        expansionLimitExceeded,
        // A scalar whose core-schema tag its text does not fit (`!!int abc`).
        conversion,
    };

    static YAMLError scanner(const QString& message, const Mark& mark);
    static YAMLError parser(const QString& message, const Mark& mark);
    static YAMLError unexpectedEndOfInput(const Mark& mark);
    static YAMLError depthLimitExceeded(const Mark& mark);
    static YAMLError expansionLimitExceeded(qint64 limit, const Mark& mark);
    // "3:7: conversion error: 'abc' does not fit the tag !!int"
    static YAMLError conversion(const QString& tag, const QString& text, const Mark& mark);

    Kind kind() const { return m_kind; }
    // The message of the scanner, parser and conversion cases; empty for the others.
    const QString& message() const { return m_message; }
    const Mark& mark() const { return m_mark; }

private:
    YAMLError(Kind kind, QString message, const Mark& mark, const QString& description);

    Kind m_kind;
    QString m_message;
    Mark m_mark;
};

} // namespace tarnwick
