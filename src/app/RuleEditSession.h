#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace tarnwick {

class AppState;

// Rule edits of the active profile as the Rules page makes them: each edit changes the file through
// RuleStore, then the running kernel reloads; the file's bytes from before the last edit are kept so
// that Undo puts them back exactly (also after a reload the kernel refused).
class RuleEditSession final : public QObject
{
    Q_OBJECT

public:
    // Changes the profile file at the path it is given; throws when it cannot.
    using Edit = std::function<void(const QString& profileFile)>;

    explicit RuleEditSession(AppState& state, QObject* parent = nullptr);

    // The active profile's file; throws Error when no profile is active.
    QString profileFile() const;
    // Applies the edit, then reloads the kernel when it runs. Throws the edit's error (the file is
    // unchanged) or the reload's (the file is changed; Undo is offered).
    QCoro::Task<> apply(Edit edit);
    bool canUndo() const { return m_undo.has_value(); }
    // Writes the bytes from before the last edit back and reloads the kernel when it runs.
    QCoro::Task<> undo();

signals:
    void undoChanged();

private:
    struct Snapshot
    {
        QString file;
        QByteArray bytes;
    };
    QCoro::Task<> reload();
    void setUndo(std::optional<Snapshot> snapshot);

    QPointer<AppState> m_state;
    std::optional<Snapshot> m_undo;
};

} // namespace tarnwick
