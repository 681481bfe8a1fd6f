#include "Token.h"

namespace tarnwick {

QString Token::describe(Kind kind)
{
    switch (kind) {
    case Kind::streamStart:
        return QStringLiteral("streamStart");
    case Kind::streamEnd:
        return QStringLiteral("streamEnd");
    case Kind::documentStart:
        return QStringLiteral("documentStart");
    case Kind::documentEnd:
        return QStringLiteral("documentEnd");
    case Kind::blockSequenceStart:
        return QStringLiteral("blockSequenceStart");
    case Kind::blockMappingStart:
        return QStringLiteral("blockMappingStart");
    case Kind::blockEnd:
        return QStringLiteral("blockEnd");
    case Kind::blockEntry:
        return QStringLiteral("blockEntry");
    case Kind::key:
        return QStringLiteral("key");
    case Kind::value:
        return QStringLiteral("value");
    case Kind::flowSequenceStart:
        return QStringLiteral("flowSequenceStart");
    case Kind::flowSequenceEnd:
        return QStringLiteral("flowSequenceEnd");
    case Kind::flowMappingStart:
        return QStringLiteral("flowMappingStart");
    case Kind::flowMappingEnd:
        return QStringLiteral("flowMappingEnd");
    case Kind::flowEntry:
        return QStringLiteral("flowEntry");
    case Kind::anchor:
        return QStringLiteral("anchor");
    case Kind::alias:
        return QStringLiteral("alias");
    case Kind::tag:
        return QStringLiteral("tag");
    case Kind::scalar:
        return QStringLiteral("scalar");
    }
    return QString();
}

} // namespace tarnwick
