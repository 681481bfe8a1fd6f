#pragma once

#include "controller/MihomoClient.h"
#include "support/KernelProcess.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QThread>
#include <iostream>
#include <memory>
#include <optional>

namespace tarnwick::test {

// The real kernel for the controller's tests: a MihomoClient on its controller, m_proxied on its mixed
// port, a local endpoint answering latency tests with 204 and a local origin server. SetUp skips (fails
// under CI) without a provisioned kernel; a derived SetUp calls it first and returns when skipped.
class KernelFixture : public ::testing::Test
{
protected:
    static constexpr qsizetype payloadSize = 3 * 1024 * 1024;

    void SetUp() override
    {
        TARNWICK_REQUIRE_KERNEL(kernelPath);
        m_kernelPath = kernelPath;
        m_kernel = std::make_unique<KernelProcess>(kernelPath);
        m_mixedPort = freePort();
        m_proxied.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", m_mixedPort));
    }

    void TearDown() override
    {
        if (HasFailure() && m_kernel)
            std::cerr << "The kernel is " << m_kernel->state().toStdString() << "; it printed:\n"
                      << m_kernel->output().right(4000).toStdString() << std::endl;
    }

    // tests/data/controller/<name> with @MIXED_PORT@, @DEAD_PORT@, @DELAY_URL@ and the `more` pairs filled
    // in.
    QByteArray profile(const QString& name, const QList<std::pair<QString, QString>>& more = {}) const
    {
        QString text = readFile(testData("controller/" + name));
        text.replace("@MIXED_PORT@", QString::number(m_mixedPort))
            .replace("@DEAD_PORT@", QString::number(freePort()))
            .replace("@DELAY_URL@", delayUrl());
        for (const auto& [placeholder, value] : more)
            text.replace(placeholder, value);
        return text.toUtf8();
    }

    // Starts m_kernel (a fatal failure when it does not come up) and points the client at it.
    void startKernel(const QByteArray& config)
    {
        ASSERT_TRUE(m_kernel->start(config)) << m_kernel->output().toStdString();
        m_client.emplace(ControllerEndpoint{m_kernel->host(), m_kernel->controllerPort(), m_kernel->secret()},
                         &m_network);
    }

    // A request to the origin server through the mixed port: "/hold" is never answered, so its connection
    // stays open until closed; "/payload" brings payloadSize bytes; anything else "hello".
    std::unique_ptr<QNetworkReply> throughKernel(const QString& path)
    {
        return std::unique_ptr<QNetworkReply>(m_proxied.get(QNetworkRequest(QUrl(m_origin.url(path)))));
    }

    // The connection to the origin server, if the list has one.
    std::optional<ConnectionItem> originConnection(const QList<ConnectionItem>& connections) const
    {
        for (const ConnectionItem& item : connections) {
            if (item.metadata.destinationPort == QString::number(m_origin.port()))
                return item;
        }
        return std::nullopt;
    }

    QString delayUrl() const { return m_delayServer.url("/generate_204"); }

    // The kernel measures whole milliseconds and counts 0 as a failure, so the endpoint takes a moment.
    TestHttpServer m_delayServer{[](const HttpRequest&) {
        QThread::msleep(25);
        return HttpResponse{204, {}, {}, false};
    }};
    TestHttpServer m_origin{[](const HttpRequest& request) {
        if (request.path == "/hold")
            return HttpResponse{200, {}, {}, true};
        if (request.path == "/payload")
            return HttpResponse{
                200, {{"Content-Type", "application/octet-stream"}}, QByteArray(payloadSize, 'x'), false};
        return HttpResponse{200, {{"Content-Type", "text/plain"}}, "hello", false};
    }};
    QString m_kernelPath;
    std::unique_ptr<KernelProcess> m_kernel;
    quint16 m_mixedPort = 0;
    QNetworkAccessManager m_network;
    QNetworkAccessManager m_proxied;
    std::optional<MihomoClient> m_client;
};

} // namespace tarnwick::test
