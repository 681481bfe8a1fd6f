#include "HelperProcess.h"

#include "support/TestSupport.h"

#include <QLocalSocket>

namespace tarnwick::test {

QString HelperProcess::executable()
{
    return binaryDir() + QStringLiteral("/bin/tarnwick-helper");
}

HelperProcess::HelperProcess(QString socketPath, QStringList extraArguments)
    : m_socketPath(std::move(socketPath)),
      m_arguments(QStringList{QStringLiteral("--socket"), m_socketPath} + extraArguments)
{
    m_process.setProgram(executable());
    m_process.setArguments(m_arguments);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

HelperProcess::~HelperProcess()
{
    stop();
}

bool HelperProcess::start()
{
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    return waitFor([this] {
               return socketAcceptsConnections(m_socketPath) || m_process.state() == QProcess::NotRunning;
           }) &&
           m_process.state() == QProcess::Running;
}

int HelperProcess::runToExit()
{
    m_process.start();
    if (!m_process.waitForFinished(10000))
        return -1;
    return m_process.exitCode();
}

void HelperProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString HelperProcess::log()
{
    m_log += QString::fromUtf8(m_process.readAll());
    return m_log;
}

bool socketAcceptsConnections(const QString& socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.state() == QLocalSocket::ConnectedState || socket.waitForConnected(100);
}

} // namespace tarnwick::test
