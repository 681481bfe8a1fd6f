#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>

namespace tarnwick::test {

// The real kernel run directly as a child process, for tests: a temporary work directory (holding a copy
// of the provisioned Country.mmdb, so the kernel never tries to download geodata), a free controller port
// on 127.0.0.1 and a secret. Write the files the configuration refers to, then start() it with the
// configuration text; the kernel is stopped when the fixture goes away.
class KernelProcess final
{
public:
    // An empty `secret` runs the controller without authentication.
    explicit KernelProcess(QString kernelPath, QString secret = randomSecret());
    ~KernelProcess();
    KernelProcess(const KernelProcess&) = delete;
    KernelProcess& operator=(const KernelProcess&) = delete;

    static QString randomSecret();

    QString workDirectory() const { return m_workDirectory.path(); }
    // A path inside the work directory.
    QString path(const QString& relative) const;
    void writeFile(const QString& relative, const QByteArray& bytes) const;
    QString configPath() const { return path(QStringLiteral("config.yaml")); }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 controllerPort() const { return m_controllerPort; }
    const QString& secret() const { return m_secret; }

    // Writes the configuration and starts the kernel on the controller port; true once the controller
    // answers with the secret and the configuration is applied, within the bound. On false, output()
    // tells why.
    bool start(const QByteArray& config, std::chrono::milliseconds bound = std::chrono::seconds(20));
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    // "running", "exited with code N" or "killed by a signal" — for failure messages.
    QString state() const;
    // Everything the kernel printed so far.
    QString output() const { return QString::fromUtf8(m_output); }

private:
    bool controllerAnswers(std::chrono::milliseconds bound);

    QString m_kernelPath;
    QString m_secret;
    QTemporaryDir m_workDirectory;
    quint16 m_controllerPort = 0;
    QProcess m_process;
    QByteArray m_output;
};

} // namespace tarnwick::test
