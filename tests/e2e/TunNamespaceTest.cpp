// TUN mode for real, and only inside a network namespace the test creates: the privileged helper runs in
// it, launches the real kernel with a TUN inbound and automatic routes there, and traffic from inside the
// namespace reaches a local server only through the kernel. The machine's own network is never touched.
#include "app/HelperClient.h"
#include "config/KernelCommand.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// The server's address is the namespace's own, yet only the kernel's connections (they carry its routing
// mark) look it up in the local table; everything else to it goes the way the kernel's routes send it.
const char* const kNamespaceSetup = R"(set -e
ip link set lo up
ip addr add 198.51.100.7/32 dev lo
sysctl -qw net.ipv4.tcp_fwmark_accept=1
ip rule add fwmark 6666 lookup local pref 50
ip rule add not to 198.51.100.7/32 lookup local pref 51
ip rule del pref 0
exec "$1" --privileged --allow-uid 0 --socket "$2"
)";

TEST(TunNamespaceTest, TrafficInsideTheNamespaceReachesALocalServerThroughTheKernelsTun)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    for (const char* tool : {"unshare", "ip", "nsenter", "python3"}) {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty() ||
            !QFile::exists(QStringLiteral("/dev/net/tun")))
            GTEST_SKIP() << "needs root, /dev/net/tun and " << tool << " to make a network namespace";
    }
    QTemporaryDir dir;
    const QString workspace = dir.filePath(QStringLiteral("workspace"));
    const QString executable = workspace + QStringLiteral("/core/versions/v1.19.30/mihomo");
    ASSERT_TRUE(test::installKernel(workspace));
    QDir().mkpath(workspace + QStringLiteral("/logs"));
    QDir().mkpath(dir.filePath(QStringLiteral("site")));
    test::writeFile(dir.filePath(QStringLiteral("site/hello.txt")), "served inside the namespace\n");
    const QString config = workspace + QStringLiteral("/work/config.json");
    test::writeFile(config, R"({"log-level": "info", "routing-mark": 6666, "ipv6": false,
        "tun": {"enable": true, "stack": "system", "device": "tarnwick0", "auto-route": true,
                "auto-detect-interface": false},
        "dns": {"enable": false}, "proxies": [],
        "rules": ["IP-CIDR,198.51.100.7/32,DIRECT", "MATCH,REJECT"]})");

    const QString socket = dir.filePath(QStringLiteral("run/helper.sock"));
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(QStringLiteral("unshare"),
                 {QStringLiteral("--net"), QStringLiteral("--"), QStringLiteral("/bin/sh"),
                  QStringLiteral("-c"), QString::fromUtf8(kNamespaceSetup), QStringLiteral("setup"),
                  test::binaryDir() + QStringLiteral("/bin/tarnwick-helper"), socket});
    ASSERT_TRUE(helper.waitForStarted());
    ASSERT_TRUE(test::waitFor([&] { return QFile::exists(socket); })) << helper.readAll().toStdString();
    const QString namespaceOption = QStringLiteral("--net=/proc/%1/ns/net").arg(helper.processId());
    QProcess server;
    server.start(QStringLiteral("nsenter"),
                 {namespaceOption, QStringLiteral("python3"), QStringLiteral("-m"),
                  QStringLiteral("http.server"), QStringLiteral("8080"), QStringLiteral("--bind"),
                  QStringLiteral("0.0.0.0"), QStringLiteral("--directory"),
                  dir.filePath(QStringLiteral("site"))});
    ASSERT_TRUE(server.waitForStarted());

    HelperRegistration::Options options;
    options.socketPath = socket;
    options.systemctl = QStringLiteral("/bin/false");
    HelperClient client(options, HelperClient::Timeouts{});
    const qint32 pid =
        test::await(client.startKernel(executable,
                                       KernelCommand::runArguments(workspace + QStringLiteral("/work"),
                                                                   config, QStringLiteral("127.0.0.1"), 9090),
                                       {}, workspace + QStringLiteral("/logs/core.log")));

    // No route leads to 198.51.100.7 but the kernel's TUN device.
    QString body;
    const bool reached = test::waitFor(
        [&] {
            QProcess fetch;
            fetch.start(
                QStringLiteral("nsenter"),
                {namespaceOption, QStringLiteral("python3"), QStringLiteral("-c"),
                 QStringLiteral(
                     "import urllib.request as u; print(u.build_opener(u.ProxyHandler({}))"
                     ".open('http://198.51.100.7:8080/hello.txt', timeout=3).read().decode(), end='')")});
            fetch.waitForFinished(10000);
            body = QString::fromUtf8(fetch.readAllStandardOutput());
            return body == QLatin1String("served inside the namespace\n");
        },
        20s);
    const QString log = test::readFile(workspace + QStringLiteral("/logs/core.log"));
    EXPECT_TRUE(reached) << body.toStdString() << log.toStdString();
    // From the TUN device's address: the connection came in through the TUN inbound.
    EXPECT_TRUE(log.contains(QLatin1String("[TCP] 198.18.0.1:"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("--> 198.51.100.7:8080 match IPCIDR"))) << log.toStdString();
    // The kernel has network administration and nothing else.
    const QString status = test::readFile(QStringLiteral("/proc/%1/status").arg(pid));
    EXPECT_TRUE(status.contains(QLatin1String("CapEff:\t0000000000003000"))) << status.toStdString();

    test::await(client.stopKernel(pid));
    server.kill();
    server.waitForFinished();
    helper.terminate();
    EXPECT_TRUE(helper.waitForFinished(10000));
}

} // namespace
