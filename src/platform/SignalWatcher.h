#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

namespace tarnwick {

// Delivers Unix signals on the event loop: the handler only writes the signal's number to a pipe, which a
// socket notifier reads. A handler that was installed before (Qt's own SIGCHLD handler, for instance) is
// still called. One watcher per process.
class SignalWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(const QList<int>& signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void drain();

    QList<int> m_signals;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tarnwick
