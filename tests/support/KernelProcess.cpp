#include "KernelProcess.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUuid>
#include <memory>

namespace tarnwick::test {

KernelProcess::KernelProcess(QString kernelPath, QString secret)
    : m_kernelPath(std::move(kernelPath)), m_secret(std::move(secret)), m_controllerPort(freePort())
{
    const QString mmdb = countryMmdbPath();
    if (!mmdb.isEmpty())
        QFile::copy(mmdb, path(QStringLiteral("Country.mmdb")));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, [this] { m_output += m_process.readAll(); });
}

KernelProcess::~KernelProcess()
{
    stop();
}

QString KernelProcess::randomSecret()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

QString KernelProcess::path(const QString& relative) const
{
    return m_workDirectory.filePath(relative);
}

void KernelProcess::writeFile(const QString& relative, const QByteArray& bytes) const
{
    test::writeFile(path(relative), bytes);
}

bool KernelProcess::start(const QByteArray& config, std::chrono::milliseconds bound)
{
    writeFile(QStringLiteral("config.yaml"), config);
    QStringList arguments{QStringLiteral("-d"),       workDirectory(),
                          QStringLiteral("-f"),       configPath(),
                          QStringLiteral("-ext-ctl"), host() + u':' + QString::number(m_controllerPort)};
    if (!m_secret.isEmpty())
        arguments << QStringLiteral("-secret") << m_secret;
    m_process.setWorkingDirectory(workDirectory());
    m_process.start(m_kernelPath, arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    return controllerAnswers(bound);
}

bool KernelProcess::controllerAnswers(std::chrono::milliseconds bound)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    const auto request = [this](const QString& path) {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://%1:%2%3").arg(host()).arg(m_controllerPort).arg(path)));
        request.setTransferTimeout(2000);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        if (!m_secret.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + m_secret.toUtf8());
        return request;
    };
    // The kernel serves its controller before it applies the configuration. A reload of the same file
    // waits for that first application to finish, so once it answers the kernel runs the configuration.
    const QByteArray sameFile = R"({"path": "", "payload": ""})";
    bool versionAnswered = false;
    bool applied = false;
    std::unique_ptr<QNetworkReply> reply;
    QDeadlineTimer nextTry(0);
    waitFor(
        [&] {
            if (!isRunning())
                return true;
            if (reply && reply->isFinished()) {
                const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                if (versionAnswered)
                    applied = status == 204;
                versionAnswered = status == 200 || versionAnswered;
                reply.reset();
                nextTry.setRemainingTime(50);
            }
            if (!reply && !applied && nextTry.hasExpired()) {
                reply.reset(versionAnswered
                                ? manager.put(request(QStringLiteral("/configs?force=false")), sameFile)
                                : manager.get(request(QStringLiteral("/version"))));
            }
            return applied;
        },
        bound);
    return applied;
}

QString KernelProcess::state() const
{
    if (isRunning())
        return QStringLiteral("running");
    if (m_process.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("killed by a signal");
    return QStringLiteral("exited with code %1").arg(m_process.exitCode());
}

void KernelProcess::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    m_output += m_process.readAll();
}

} // namespace tarnwick::test
