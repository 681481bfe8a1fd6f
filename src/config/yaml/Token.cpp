#include "Token.h"

namespace tarnwick {

QString Token::describe(Kind kind)
{
    switch (kind) {
    case Kind::streamStart:
        return QStringLiteral("the start of the text");
    case Kind::streamEnd:
        return QStringLiteral("the end of the text");
    case Kind::documentStart:
        return QStringLiteral("a document start (---)");
    case Kind::documentEnd:
        return QStringLiteral("a document end (...)");
    case Kind::blockSequenceStart:
        return QStringLiteral("the start of a block sequence");
    case Kind::blockMappingStart:
        return QStringLiteral("the start of a block mapping");
    case Kind::blockEnd:
        return QStringLiteral("the end of a block collection");
    case Kind::blockEntry:
        return QStringLiteral("a sequence entry (- )");
    case Kind::key:
        return QStringLiteral("a mapping key");
    case Kind::value:
        return QStringLiteral("a mapping value (:)");
    case Kind::flowSequenceStart:
        return QStringLiteral("'['");
    case Kind::flowSequenceEnd:
        return QStringLiteral("']'");
    case Kind::flowMappingStart:
        return QStringLiteral("'{'");
    case Kind::flowMappingEnd:
        return QStringLiteral("'}'");
    case Kind::flowEntry:
        return QStringLiteral("','");
    case Kind::anchor:
        return QStringLiteral("an anchor (&)");
    case Kind::alias:
        return QStringLiteral("an alias (*)");
    case Kind::tag:
        return QStringLiteral("a tag (!)");
    case Kind::scalar:
        return QStringLiteral("a scalar");
    }
    return QString();
}

} // namespace tarnwick
