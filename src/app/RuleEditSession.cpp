#include "RuleEditSession.h"

#include "AppState.h"
#include "config/AtomicFile.h"

namespace tarnwick {

RuleEditSession::RuleEditSession(AppState& state, QObject* parent) : QObject(parent), m_state(&state) {}

QString RuleEditSession::profileFile() const
{
    if (m_state) {
        const std::optional<QString>& active = m_state->activeProfileName();
        for (const ProfileNode& node : m_state->profileNodes())
            if (active && node.name == *active)
                return m_state->paths().profilesDirectory() + node.fileName;
    }
    throw Error(QStringLiteral("No active profile: switch to one first"));
}

void RuleEditSession::setUndo(std::optional<Snapshot> snapshot)
{
    m_undo = std::move(snapshot);
    emit undoChanged();
}

QCoro::Task<> RuleEditSession::apply(Edit edit)
{
    const QString file = profileFile();
    const QByteArray before = AtomicFile::read(file);
    edit(file);
    setUndo(Snapshot{file, before});
    co_await reload();
}

QCoro::Task<> RuleEditSession::undo()
{
    if (!m_undo)
        co_return;
    AtomicFile::write(m_undo->file, m_undo->bytes);
    setUndo(std::nullopt);
    co_await reload();
}

QCoro::Task<> RuleEditSession::reload()
{
    QPointer<AppState> state = m_state;
    if (state && state->kernelStatus().isRunningOrStarting())
        co_await state->reloadKernelConfiguration();
}

} // namespace tarnwick
