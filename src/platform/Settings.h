#pragma once

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QString>
#include <optional>

namespace tarnwick {

// Typed per-user defaults. A key that was never written reads as std::nullopt, which callers tell apart
// from a written 0 or empty text; a value of the wrong type is logged and also reads as std::nullopt, so
// every reader falls back to its own default. Every write emits changed().
class Settings final : public QObject
{
    Q_OBJECT

public:
    explicit Settings(const QString& filePath, QObject* parent = nullptr);

    // $TARNWICK_SETTINGS, else $XDG_CONFIG_HOME/tarnwick/settings.ini.
    static QString defaultFilePath();

    QString filePath() const;
    bool contains(const QString& key) const;

    std::optional<bool> boolean(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<QString> text(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;

    bool boolean(const QString& key, bool fallback) const { return boolean(key).value_or(fallback); }
    qint64 integer(const QString& key, qint64 fallback) const { return integer(key).value_or(fallback); }
    QString text(const QString& key, const QString& fallback) const { return text(key).value_or(fallback); }

    void setBoolean(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setText(const QString& key, const QString& value);
    void setDate(const QString& key, const QDateTime& value);
    void remove(const QString& key);

Q_SIGNALS:
    void changed(const QString& key);

private:
    void write(const QString& key, const QVariant& value);
    std::optional<QString> raw(const QString& key) const;
    void warnWrongType(const QString& key, const QString& value, const char* type) const;

    mutable QSettings m_store;
};

} // namespace tarnwick
