#pragma once

#include "Mark.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tarnwick {

enum class ScalarStyle : quint8
{
    plain,
    singleQuoted,
    doubleQuoted,
    literal,
    folded
};

// One token of the YAML token stream. Beyond the block, flow and scalar tokens, `key` marks a mapping key
// (an explicit "?" or, inserted afterwards, the start of a simple key) and `tag` carries a node's resolved
// tag ahead of the node, as `anchor` carries its anchor.
struct Token
{
    enum class Kind : quint8
    {
        streamStart,
        streamEnd,
        documentStart,
        documentEnd,
        blockSequenceStart,
        blockMappingStart,
        blockEnd,
        blockEntry,
        key,
        value,
        flowSequenceStart,
        flowSequenceEnd,
        flowMappingStart,
        flowMappingEnd,
        flowEntry,
        anchor,
        alias,
        tag,
        scalar,
    };

    Token(Kind kind, Mark mark) : kind(kind), mark(mark), endMark(mark) {}

    Kind kind;
    ScalarStyle style = ScalarStyle::plain;
    Mark mark;    // where the token starts
    Mark endMark; // just past its last character
    // The decoded scalar text, anchor or alias name, or resolved tag, as UTF-8. It points into the
    // scanner's input, or into `storage` when decoding changed the text.
    QByteArrayView text;
    QByteArray storage;

    QString description() const { return describe(kind); }
    static QString describe(Kind kind);
};

} // namespace tarnwick
