#pragma once

#include "Mark.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace tarnwick {

// One step of a path into a YAML document: the value of a mapping entry, or a sequence element.
class YamlPathSegment final
{
public:
    enum class Kind
    {
        key,
        index
    };

    static YamlPathSegment key(QString text) { return YamlPathSegment(Kind::key, std::move(text), 0); }
    static YamlPathSegment index(qsizetype index) { return YamlPathSegment(Kind::index, QString(), index); }

    Kind kind() const { return m_kind; }
    const QString& keyText() const { return m_key; }
    qsizetype indexValue() const { return m_index; }
    // key("mixed-port"), index(0)
    QString toString() const;
    // [key("proxies"), index(0)]
    static QString toString(const QList<YamlPathSegment>& path);

    bool operator==(const YamlPathSegment& other) const = default;

private:
    YamlPathSegment(Kind kind, QString key, qsizetype index)
        : m_kind(kind), m_key(std::move(key)), m_index(index)
    {}

    Kind m_kind;
    QString m_key;
    qsizetype m_index;
};

class YamlPatchError final : public Error
{
public:
    enum class Kind
    {
        targetNotFound,
        targetNotScalar,
        missingPositionInfo,
        keyNotFound,
        indexOutOfBounds,
        typeMismatch,
        encodingFailure,
        blockScalar,
    };

    static YamlPatchError targetNotFound(const QList<YamlPathSegment>& path);
    static YamlPatchError targetNotScalar(const QList<YamlPathSegment>& path);
    static YamlPatchError missingPositionInfo(const QList<YamlPathSegment>& path);
    static YamlPatchError keyNotFound(const QString& key, int depth);
    static YamlPatchError indexOutOfBounds(qsizetype index, qsizetype count, int depth);
    static YamlPatchError typeMismatch(const QString& expected, int depth);
    static YamlPatchError encodingFailure();
    // "Target at path is a literal block scalar at 3:4, which is not patched in place: [key(\"k\")]"
    static YamlPatchError blockScalar(const QList<YamlPathSegment>& path, const QString& style,
                                      const Mark& mark);

    Kind kind() const { return m_kind; }

private:
    YamlPatchError(Kind kind, const QString& description) : Error(description), m_kind(kind) {}

    Kind m_kind;
};

// Changes the value of one scalar without re-serialising the document: only the bytes of that scalar's
// source form are replaced, in the scalar's own quoting style; comments, order, indentation, anchors and
// every other byte stay as written. A value shared through an alias is changed at its anchor. Literal and
// folded block scalars are refused.
namespace YamlPatcher {

// Fails with YamlPatchError, or with the YAMLError of a text that cannot be read; the input is never
// modified.
QString patch(const QString& yaml, const QList<YamlPathSegment>& keyPath, const QString& newValue);
QByteArray patch(QByteArrayView yaml, const QList<YamlPathSegment>& keyPath, const QString& newValue);

} // namespace YamlPatcher

} // namespace tarnwick
