#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

namespace tarnwick {
class HelperClient;
}

namespace tarnwick::test {

class HelperProcess;

// The real kernel, launched as the application launches it: through a tarnwick-helper of this build on a
// private socket, from a temporary workspace of its own (the kernel under core/versions, a work directory
// holding a copy of the provisioned Country.mmdb, so the kernel never tries to download geodata), a free
// controller port on 127.0.0.1 and a secret. Write the files the configuration refers to, then start() it
// with the configuration text; the kernel and its helper are stopped when the fixture goes away.
class KernelProcess final
{
public:
    // An empty `secret` runs the controller without authentication.
    explicit KernelProcess(QString kernelPath, QString secret = randomSecret());
    ~KernelProcess();
    KernelProcess(const KernelProcess&) = delete;
    KernelProcess& operator=(const KernelProcess&) = delete;

    static QString randomSecret();

    QString workDirectory() const { return m_workspace.filePath(QStringLiteral("work")); }
    // A path inside the work directory.
    QString path(const QString& relative) const;
    void writeFile(const QString& relative, const QByteArray& bytes) const;
    // The runtime configuration's place (the kernel reads YAML there as well as JSON).
    QString configPath() const { return path(QStringLiteral("config.json")); }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 controllerPort() const { return m_controllerPort; }
    const QString& secret() const { return m_secret; }

    // Writes the configuration and starts the kernel on the controller port; true once the controller
    // answers with the secret and the configuration is applied, within the bound. On false, output()
    // tells why.
    bool start(const QByteArray& config, std::chrono::milliseconds bound = std::chrono::seconds(20));
    void stop();
    bool isRunning() const;
    qint64 pid() const { return m_pid; }
    // "running", "not started: <why>" or "ended" — for failure messages.
    QString state() const;
    // Everything the kernel printed so far (its log file), and the helper's log.
    QString output() const;

private:
    QString logPath() const { return m_workspace.filePath(QStringLiteral("logs/core.log")); }
    bool controllerAnswers(std::chrono::milliseconds bound);

    QString m_kernelPath;
    QString m_secret;
    QTemporaryDir m_workspace;
    QTemporaryDir m_runDirectory; // the helper's socket, short enough for sun_path
    quint16 m_controllerPort = 0;
    std::unique_ptr<HelperProcess> m_helper;
    std::unique_ptr<HelperClient> m_client;
    qint64 m_pid = 0;
    QString m_startError;
};

} // namespace tarnwick::test
