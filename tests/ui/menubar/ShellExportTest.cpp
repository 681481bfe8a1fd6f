#include "ui/menubar/ShellExport.h"

#include "controller/MihomoClient.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <gtest/gtest.h>

using namespace tarnwick;

TEST(ShellExportTest, HostPortAndText)
{
    using Interface = ShellExport::Interface;
    const QHostAddress v4(QStringLiteral("192.168.1.20"));
    const QHostAddress v6(QStringLiteral("fe80::1"));
    const struct
    {
        QList<Interface> interfaces;
        const char* host;
    } cases[] = {
        {{}, "127.0.0.1"},
        {{{QStringLiteral("wlp2s0"), true, true, false, {v4}}}, "127.0.0.1"},
        {{{QStringLiteral("en0"), true, false, false, {v4}}}, "127.0.0.1"},
        {{{QStringLiteral("en0"), true, true, true, {v4}}}, "127.0.0.1"},
        {{{QStringLiteral("en0"), true, true, false, {v6}}}, "127.0.0.1"},
        {{{QStringLiteral("lo"), true, true, true, {QHostAddress::LocalHost}},
          {QStringLiteral("en1"), true, true, false, {v6, v4}}},
         "192.168.1.20"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShellExport::host(c.interfaces), QString::fromLatin1(c.host));

    EXPECT_EQ(ShellExport::port(std::nullopt), 7890);
    EXPECT_EQ(
        ShellExport::port(QJsonObject{{QStringLiteral("mixed-port"), 7000}, {QStringLiteral("port"), 7001}}),
        7000);
    EXPECT_EQ(ShellExport::text(QStringLiteral("10.0.0.2"), 7890),
              QStringLiteral("export https_proxy=http://10.0.0.2:7890;export http_proxy=http://10.0.0.2:7890;"
                             "export all_proxy=socks5://10.0.0.2:7890"));
}

TEST(ShellExportTest, WithoutAKernelUsesTheUsualPort)
{
    QNetworkAccessManager network;
    const MihomoClient client(ControllerEndpoint{QStringLiteral("127.0.0.1"), test::freePort(), QString()},
                              &network);
    const QString text = test::await(ShellExport::build(client));
    EXPECT_TRUE(text.endsWith(QStringLiteral(":7890"))) << text.toStdString();
}
