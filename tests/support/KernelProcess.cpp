#include "KernelProcess.h"

#include "HelperProcess.h"
#include "TestSupport.h"
#include "app/HelperClient.h"
#include "config/KernelCommand.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUuid>
#include <csignal>
#include <memory>

namespace tarnwick::test {

KernelProcess::KernelProcess(QString kernelPath, QString secret)
    : m_kernelPath(std::move(kernelPath)), m_secret(std::move(secret)), m_controllerPort(freePort())
{
    QDir().mkpath(workDirectory());
    QDir().mkpath(m_workspace.filePath(QStringLiteral("logs")));
    const QString mmdb = countryMmdbPath();
    if (!mmdb.isEmpty())
        QFile::copy(mmdb, path(QStringLiteral("Country.mmdb")));
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
    return workDirectory() + u'/' + relative;
}

void KernelProcess::writeFile(const QString& relative, const QByteArray& bytes) const
{
    test::writeFile(path(relative), bytes);
}

bool KernelProcess::start(const QByteArray& config, std::chrono::milliseconds bound)
{
    writeFile(QStringLiteral("config.json"), config);
    const QString kernel = placeKernel(m_kernelPath, m_workspace.path());
    if (kernel.isEmpty()) {
        m_startError = QStringLiteral("cannot place the kernel in the workspace");
        return false;
    }
    const QString socketPath = m_runDirectory.filePath(QStringLiteral("helper.sock"));
    m_helper = std::make_unique<HelperProcess>(socketPath);
    if (!m_helper->start()) {
        m_startError = QStringLiteral("the helper did not start");
        return false;
    }
    HelperRegistration::Options options;
    options.socketPath = socketPath;
    options.helperExecutable = HelperProcess::executable();
    options.systemctl = QStringLiteral("/bin/false");
    m_client = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});
    const QStringList arguments =
        KernelCommand::runArguments(workDirectory(), configPath(), host(), m_controllerPort);
    try {
        m_pid = await(
            m_client->startKernel(kernel, arguments, KernelCommand::runEnvironment(m_secret), logPath()));
    } catch (const std::exception& error) {
        m_startError = QString::fromUtf8(error.what());
        return false;
    }
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

bool KernelProcess::isRunning() const
{
    return m_pid > 0 && ::kill(static_cast<pid_t>(m_pid), 0) == 0;
}

QString KernelProcess::state() const
{
    if (isRunning())
        return QStringLiteral("running");
    if (m_pid == 0)
        return QStringLiteral("not started: ") + m_startError;
    return QStringLiteral("ended");
}

QString KernelProcess::output() const
{
    QString text = readFile(logPath());
    if (m_helper)
        text += QStringLiteral("\n[helper]\n") + m_helper->log();
    return text;
}

void KernelProcess::stop()
{
    if (m_pid > 0 && isRunning()) {
        try {
            await(m_client->stopKernel(static_cast<qint32>(m_pid)));
        } catch (const std::exception& error) {
            ADD_FAILURE() << "the helper did not stop the kernel: " << error.what();
        }
    }
    m_client.reset();
    m_helper.reset();
}

} // namespace tarnwick::test
