#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tarnwick::test {

// The real tarnwick-helper binary of this build, run as a child of the test with its log captured.
class HelperProcess final
{
public:
    static QString executable();

    explicit HelperProcess(QString socketPath, QStringList extraArguments = {});
    // Stops the helper (SIGTERM, as a session would) and waits for it.
    ~HelperProcess();

    // Starts the helper and waits until its socket accepts connections; false when it does not.
    bool start();
    // Runs the helper to its end, for the cases where it must refuse to start; its exit status.
    int runToExit();
    void stop();

    qint64 pid() const { return m_process.processId(); }
    // Everything the helper logged so far.
    QString log();

private:
    QString m_socketPath;
    QStringList m_arguments;
    QProcess m_process;
    QString m_log;
};

// True when a client can connect to the socket path right now.
bool socketAcceptsConnections(const QString& socketPath);

} // namespace tarnwick::test
