#include "YAMLError.h"

namespace tarnwick {

YAMLError::YAMLError(Kind kind, QString message, const Mark& mark, const QString& description)
    : Error(mark.toString() + QStringLiteral(": ") + description), m_kind(kind),
      m_message(std::move(message)), m_mark(mark)
{}

YAMLError YAMLError::scanner(const QString& message, const Mark& mark)
{
    return YAMLError(Kind::scanner, message, mark, QStringLiteral("scanner error: ") + message);
}

YAMLError YAMLError::parser(const QString& message, const Mark& mark)
{
    return YAMLError(Kind::parser, message, mark, QStringLiteral("parser error: ") + message);
}

YAMLError YAMLError::unexpectedEndOfInput(const Mark& mark)
{
    return YAMLError(Kind::unexpectedEndOfInput, QString(), mark, QStringLiteral("unexpected end of input"));
}

YAMLError YAMLError::depthLimitExceeded(const Mark& mark)
{
    return YAMLError(Kind::depthLimitExceeded, QString(), mark,
                     QStringLiteral("nesting depth limit exceeded"));
}

YAMLError YAMLError::expansionLimitExceeded(qint64 limit, const Mark& mark)
{
    return YAMLError(Kind::expansionLimitExceeded, QString(), mark,
                     QStringLiteral("aliases expand the document beyond %1 values").arg(limit));
}

YAMLError YAMLError::conversion(const QString& tag, const QString& text, const Mark& mark)
{
    const QString message = QStringLiteral("'%1' does not fit the tag %2").arg(text, tag);
    return YAMLError(Kind::conversion, message, mark, QStringLiteral("conversion error: ") + message);
}

} // namespace tarnwick
