// End to end through the real tarnwick-helper: the real kernel started with its secret in the environment,
// asked for its version over the controller, stopped; a command off the allow-list refused.
#include "app/HelperClient.h"
#include "config/KernelCommand.h"
#include "support/HelperProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QUuid>
#include <csignal>
using namespace tarnwick;
using namespace tarnwick::test;
using namespace std::chrono_literals;

namespace {

struct ControllerAnswer
{
    int status = 0;
    QJsonObject body;
};

ControllerAnswer getVersion(QNetworkAccessManager& network, quint16 port, const QString& secret)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/version").arg(port)));
    if (!secret.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + secret.toUtf8());
    request.setTransferTimeout(2000);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    waitFor([&] { return reply->isFinished(); }, 5s);
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            QJsonDocument::fromJson(reply->readAll()).object()};
}

class HelperKernelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_work = m_dir.filePath(QStringLiteral("work"));
        ASSERT_TRUE(QDir().mkpath(m_work) && QDir().mkpath(m_dir.filePath(QStringLiteral("logs"))));
        m_config = m_work + QStringLiteral("/config.json");
        writeFile(m_config, QStringLiteral("mixed-port: %1\nmode: rule\nlog-level: info\nproxies: []\n"
                                           "rules:\n  - MATCH,DIRECT\n")
                                .arg(freePort())
                                .toUtf8());
        m_socket = m_dir.filePath(QStringLiteral("run/helper.sock"));
        m_helper = std::make_unique<HelperProcess>(m_socket);
        ASSERT_TRUE(m_helper->start()) << m_helper->log().toStdString();
        HelperRegistration::Options options;
        options.socketPath = m_socket;
        m_client = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});
    }

    QTemporaryDir m_dir;
    QString m_work;
    QString m_config;
    QString m_socket;
    std::unique_ptr<HelperProcess> m_helper;
    std::unique_ptr<HelperClient> m_client;
};

} // namespace

TEST_F(HelperKernelTest, StartsTheKernelWhoseControllerAnswersAndStopsIt)
{
    TARNWICK_REQUIRE_KERNEL(provisioned);
    const QString kernel = placeKernel(provisioned, m_dir.path());
    const quint16 port = freePort();
    const QString secret = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString log = m_dir.filePath(QStringLiteral("logs/core.log"));

    const qint32 pid = await(m_client->startKernel(
        kernel, KernelCommand::runArguments(m_work, m_config, QStringLiteral("127.0.0.1"), port),
        KernelCommand::runEnvironment(secret), log));
    ASSERT_GT(pid, 0);
    // Named so that the orphan clean-up finds it; the secret is nowhere on its command line.
    const QString commandLine = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
    EXPECT_TRUE(commandLine.startsWith(QString(QLatin1String("mihomo\0-d\0", 10))));
    EXPECT_FALSE(commandLine.contains(secret));

    QNetworkAccessManager network;
    ControllerAnswer answer;
    EXPECT_TRUE(waitFor([&] { return (answer = getVersion(network, port, secret)).status == 200; }, 20s))
        << readFile(log).toStdString();
    EXPECT_FALSE(answer.body.value(QStringLiteral("version")).toString().isEmpty());
    EXPECT_EQ(getVersion(network, port, QString()).status, 401);
    EXPECT_TRUE(readFile(log).contains(QStringLiteral("RESTful API listening at: 127.0.0.1:%1").arg(port)));

    await(m_client->stopKernel(pid));
    EXPECT_EQ(::kill(pid, 0), -1); // gone, and reaped by the helper
    EXPECT_EQ(getVersion(network, port, secret).status, 0);
    EXPECT_EQ(errorText<HelperClientError>(m_client->stopKernel(pid)),
              QStringLiteral("Helper error: PID %1 was not started by the helper").arg(pid));
}

TEST_F(HelperKernelTest, RunsNoCommandOffTheAllowList)
{
    EXPECT_EQ(errorText<HelperClientError>(
                  m_client->runSystemCommand(QStringLiteral("/bin/rm"), {QStringLiteral("-rf"), m_work})),
              QStringLiteral("Helper error: Command not allowed: /bin/rm -rf ") + m_work);
    EXPECT_TRUE(QFileInfo::exists(m_config));
}
