#include "controller/ControllerEndpoint.h"

#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace tarnwick;

namespace tarnwick {
void PrintTo(const ControllerEndpoint& endpoint, std::ostream* out)
{
    *out << endpoint.host.toStdString() << " " << endpoint.port << " \"" << endpoint.secret.toStdString()
         << '"';
}
} // namespace tarnwick

namespace {

class ControllerEndpointTest : public ::testing::Test
{
protected:
    ControllerEndpoint fromConfig(const QByteArray& text)
    {
        const QString path = m_dir.filePath("config.yaml");
        test::writeFile(path, text);
        return ControllerEndpoint::fromConfigFile(path);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ControllerEndpointTest, FromSettingsFallsBackPerKey)
{
    Settings settings(m_dir.filePath("settings.ini"));
    const ControllerEndpoint fresh = ControllerEndpoint::fromSettings(settings);
    EXPECT_EQ(fresh.host, "127.0.0.1");
    EXPECT_EQ(fresh.port, 9090);
    // The first read creates the installation's secret, 32 hex digits, and keeps it.
    static const QRegularExpression hex32("^[0-9a-f]{32}$");
    EXPECT_TRUE(hex32.match(fresh.secret).hasMatch()) << fresh.secret.toStdString();
    EXPECT_EQ(settings.text("apiSecret"), fresh.secret);
    EXPECT_EQ(ControllerEndpoint::fromSettings(settings).secret, fresh.secret);

    settings.setInteger("apiPort", 0);
    EXPECT_EQ(ControllerEndpoint::fromSettings(settings).port, 9090);

    settings.setText("apiHost", "localhost");
    settings.setInteger("apiPort", 19090);
    settings.setText("apiSecret", "s3cret");
    EXPECT_EQ(ControllerEndpoint::fromSettings(settings), (ControllerEndpoint{"localhost", 19090, "s3cret"}));
    // An emptied secret is replaced again, by a fresh one.
    settings.setText("apiSecret", "");
    const QString replaced = ControllerEndpoint::fromSettings(settings).secret;
    EXPECT_TRUE(hex32.match(replaced).hasMatch()) << replaced.toStdString();
    EXPECT_NE(replaced, fresh.secret);
    EXPECT_EQ(settings.text("apiSecret"), replaced);
}

TEST_F(ControllerEndpointTest, FromConfigFileReadsControllerAndSecretLines)
{
    EXPECT_EQ(ControllerEndpoint::fromConfigFile(m_dir.filePath("missing.yaml")),
              (ControllerEndpoint{"127.0.0.1", 9090, ""}));

    EXPECT_EQ(fromConfig("mixed-port: 7890\n"
                         "external-controller: '0.0.0.0:9097'\n"
                         "  secret: \"abc def\"  \n"),
              (ControllerEndpoint{"0.0.0.0", 9097, "abc def"}));
    // Later lines win; tabs are blanks around the value.
    EXPECT_EQ(fromConfig("external-controller: 1.1.1.1:1\n\texternal-controller:\t127.0.0.2:2\t\n"),
              (ControllerEndpoint{"127.0.0.2", 2, ""}));
    // Only the first colon splits; empty parts keep what was there.
    EXPECT_EQ(fromConfig("external-controller: :9999\n"), (ControllerEndpoint{"127.0.0.1", 9999, ""}));
    EXPECT_EQ(fromConfig("external-controller: myhost:\n"), (ControllerEndpoint{"myhost", 9090, ""}));
    EXPECT_EQ(fromConfig("external-controller: myhost:port\n"), (ControllerEndpoint{"myhost", 9090, ""}));
    EXPECT_EQ(fromConfig("external-controller: 9191\n"), (ControllerEndpoint{"127.0.0.1", 9191, ""}));
    EXPECT_EQ(fromConfig("external-controller: onlyhost\n"), (ControllerEndpoint{"127.0.0.1", 9090, ""}));
    // An IPv6 address in brackets.
    EXPECT_EQ(fromConfig("external-controller: \"[::1]:9191\"\n"), (ControllerEndpoint{"::1", 9191, ""}));
    EXPECT_EQ(fromConfig("external-controller: '[fe80::1]'\n"), (ControllerEndpoint{"fe80::1", 9090, ""}));
    // A key merely starting alike is another key; an emptied secret clears it.
    EXPECT_EQ(fromConfig("secret: one\nexternal-controller-tls: 1.2.3.4:443\nsecret: ''\n"),
              (ControllerEndpoint{"127.0.0.1", 9090, ""}));
}

TEST_F(ControllerEndpointTest, BaseUrl)
{
    EXPECT_EQ((ControllerEndpoint{"127.0.0.1", 9090, "x"}).baseURL().toString(), "http://127.0.0.1:9090");
    EXPECT_EQ((ControllerEndpoint{"::1", 9090, ""}).baseURL().toString(), "http://[::1]:9090");
    EXPECT_EQ((ControllerEndpoint{"[::1]", 9090, ""}).baseURL().toString(), "http://[::1]:9090");
    EXPECT_FALSE((ControllerEndpoint{"bad host", 9090, ""}).isValid());
}
