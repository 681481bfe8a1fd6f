#include "YamlPatcher.h"

#include "Parser.h"
#include "Utf8.h"

namespace tarnwick {

QString YamlPathSegment::toString() const
{
    if (m_kind == Kind::index)
        return QStringLiteral("index(%1)").arg(m_index);
    return QStringLiteral("key(\"%1\")").arg(m_key);
}

QString YamlPathSegment::toString(const QList<YamlPathSegment>& path)
{
    QStringList parts;
    for (const YamlPathSegment& segment : path)
        parts.append(segment.toString());
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

YamlPatchError YamlPatchError::targetNotFound(const QList<YamlPathSegment>& path)
{
    return YamlPatchError(Kind::targetNotFound,
                          QStringLiteral("Target not found at path: ") + YamlPathSegment::toString(path));
}

YamlPatchError YamlPatchError::targetNotScalar(const QList<YamlPathSegment>& path)
{
    return YamlPatchError(Kind::targetNotScalar, QStringLiteral("Target at path is not a scalar: ") +
                                                     YamlPathSegment::toString(path));
}

YamlPatchError YamlPatchError::missingPositionInfo(const QList<YamlPathSegment>& path)
{
    return YamlPatchError(Kind::missingPositionInfo, QStringLiteral("Target scalar has no position info: ") +
                                                         YamlPathSegment::toString(path));
}

YamlPatchError YamlPatchError::keyNotFound(const QString& key, int depth)
{
    return YamlPatchError(Kind::keyNotFound,
                          QStringLiteral("Key '%1' not found at depth %2").arg(key).arg(depth));
}

YamlPatchError YamlPatchError::indexOutOfBounds(qsizetype index, qsizetype count, int depth)
{
    return YamlPatchError(
        Kind::indexOutOfBounds,
        QStringLiteral("Index %1 out of bounds (count=%2) at depth %3").arg(index).arg(count).arg(depth));
}

YamlPatchError YamlPatchError::typeMismatch(const QString& expected, int depth)
{
    return YamlPatchError(Kind::typeMismatch,
                          QStringLiteral("Expected %1 at depth %2").arg(expected).arg(depth));
}

YamlPatchError YamlPatchError::encodingFailure()
{
    return YamlPatchError(Kind::encodingFailure, QStringLiteral("Failed to re-encode patched YAML as UTF-8"));
}

YamlPatchError YamlPatchError::blockScalar(const QList<YamlPathSegment>& path, const QString& style,
                                           const Mark& mark)
{
    return YamlPatchError(Kind::blockScalar,
                          QStringLiteral("Target at path is a %1 block scalar at %2, which is "
                                         "not patched in place: %3")
                              .arg(style, mark.toString(), YamlPathSegment::toString(path)));
}

namespace {

Node walk(const Node& root, const QList<YamlPathSegment>& path)
{
    Node node = root;
    for (int depth = 0; depth < path.size(); ++depth) {
        const YamlPathSegment& segment = path[depth];
        if (segment.kind() == YamlPathSegment::Kind::key) {
            const auto mapping = node.mapping();
            if (!mapping)
                throw YamlPatchError::typeMismatch(QStringLiteral("mapping"), depth);
            const auto value = mapping->value(segment.keyText());
            if (!value)
                throw YamlPatchError::keyNotFound(segment.keyText(), depth);
            node = *value;
        } else {
            const auto sequence = node.sequence();
            if (!sequence)
                throw YamlPatchError::typeMismatch(QStringLiteral("sequence"), depth);
            if (segment.indexValue() < 0 || segment.indexValue() >= sequence->count())
                throw YamlPatchError::indexOutOfBounds(segment.indexValue(), sequence->count(), depth);
            node = (*sequence)[segment.indexValue()];
        }
    }
    return node;
}

QByteArray render(const QString& value, ScalarStyle style)
{
    QString text = value;
    switch (style) {
    case ScalarStyle::singleQuoted:
        text = QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
        break;
    case ScalarStyle::doubleQuoted:
        text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('"'), QStringLiteral("\\\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
        break;
    case ScalarStyle::plain:
    case ScalarStyle::literal:
    case ScalarStyle::folded: // never patched
        break;
    }
    return text.toUtf8();
}

} // namespace

QByteArray YamlPatcher::patch(QByteArrayView yaml, const QList<YamlPathSegment>& keyPath,
                              const QString& newValue)
{
    const std::optional<Node> root = Parser::compose(yaml, Parser::defaultMaxDepth);
    if (!root)
        throw YamlPatchError::targetNotFound(keyPath);
    const auto scalar = walk(*root, keyPath).scalar();
    if (!scalar)
        throw YamlPatchError::targetNotScalar(keyPath);
    const auto mark = scalar->mark();
    if (!mark)
        throw YamlPatchError::missingPositionInfo(keyPath);

    // Refused rather than rewritten: a new value would need its own indentation and chomping re-encoded.
    if (scalar->style() == ScalarStyle::literal || scalar->style() == ScalarStyle::folded)
        throw YamlPatchError::blockScalar(keyPath,
                                          scalar->style() == ScalarStyle::literal ? QStringLiteral("literal")
                                                                                  : QStringLiteral("folded"),
                                          *mark);

    // The scalar's source form, quotes included, ends at its end mark.
    const qsizetype start = mark->utf8Offset;
    const auto endMark = scalar->endMark();
    const qsizetype end = endMark ? endMark->utf8Offset : -1;
    if (end <= start || end > yaml.size())
        throw YamlPatchError::missingPositionInfo(keyPath);

    QByteArray patched;
    const QByteArray replacement = render(newValue, scalar->style());
    patched.reserve(yaml.size() - (end - start) + replacement.size());
    patched.append(yaml.first(start)).append(replacement).append(yaml.sliced(end));
    if (!utf8::isValid(patched.constBegin(), patched.constEnd()))
        throw YamlPatchError::encodingFailure();
    return patched;
}

QString YamlPatcher::patch(const QString& yaml, const QList<YamlPathSegment>& keyPath,
                           const QString& newValue)
{
    return utf8::toString(patch(QByteArrayView(yaml.toUtf8()), keyPath, newValue));
}

} // namespace tarnwick
