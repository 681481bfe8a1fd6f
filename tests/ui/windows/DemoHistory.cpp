// Writes a month of traffic history of realistic variety into the flow database of the workspace given
// as its argument — well-known sites in many countries, the demonstration subscription's nodes and
// groups, direct and rejected traffic, several devices — with the GeoIP cache already filled, so the
// overview and the traffic map have something to show in the pictures.
#include "history/FlowDatabase.h"

#include <QCoreApplication>
#include <cmath>
#include <random>

using namespace tarnwick;

namespace {

struct Site
{
    const char* host;
    const char* ip;
    const char* country;
    int weight;
};

// Where the sites are served from, as a GeoIP database would place them.
const Site kSites[] = {
    {"www.youtube.com", "142.250.74.14", "US", 30},
    {"i.ytimg.com", "142.250.74.22", "US", 18},
    {"github.com", "140.82.121.4", "US", 14},
    {"objects.githubusercontent.com", "185.199.108.133", "US", 9},
    {"www.google.com", "142.250.185.68", "US", 12},
    {"www.netflix.com", "52.214.181.141", "IE", 20},
    {"nflxvideo.net", "45.57.90.1", "NL", 26},
    {"www.bbc.co.uk", "151.101.0.81", "GB", 6},
    {"www.spiegel.de", "128.65.210.8", "DE", 4},
    {"deb.debian.org", "151.101.2.132", "SE", 10},
    {"registry.npmjs.org", "104.16.3.35", "CLOUDFLARE", 8},
    {"cdn.jsdelivr.net", "104.16.85.20", "CLOUDFLARE", 5},
    {"www.nhk.or.jp", "23.45.120.7", "JP", 5},
    {"www3.nhk.or.jp", "23.45.120.9", "JP", 3},
    {"t.me", "149.154.167.99", "TELEGRAM", 4},
    {"api.telegram.org", "149.154.167.220", "NL", 3},
    {"www.naver.com", "223.130.195.200", "KR", 3},
    {"www.baidu.com", "110.242.68.66", "CN", 4},
    {"www.qq.com", "183.3.226.35", "CN", 3},
    {"www.straitstimes.com", "18.136.20.10", "SG", 2},
    {"www.abc.net.au", "13.54.80.1", "AU", 2},
    {"www.globo.com", "186.192.90.5", "BR", 2},
    {"www.lemonde.fr", "151.101.66.217", "FR", 2},
    {"zoom.us", "170.114.52.2", "US", 6},
    {"slack.com", "52.5.108.10", "US", 4},
    {"news.ycombinator.com", "209.216.230.207", "US", 2},
    {"www.wikipedia.org", "185.15.59.224", "NL", 3},
    {"ads.tracker.example", "203.0.113.40", "Unknown", 3},
    {"printer.lan", "192.168.1.20", "LAN", 2},
    {"router.lan", "192.168.1.1", "LAN", 2},
};

struct Node
{
    const char* name;
    const char* server;
    const char* country;
};

const Node kNodes[] = {
    {"🇭🇰 Hong Kong 01", "203.0.113.11", "HK"},
    {"🇯🇵 Tokyo 02", "203.0.113.12", "JP"},
    {"🇺🇸 Los Angeles 03", "203.0.113.13", "US"},
    {"🇸🇬 Singapore 04 — a node whose name goes on and on to show how long names are laid out", "203.0.113.14",
     "SG"},
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo_history WORKSPACE\n");
        return 2;
    }
    FlowDatabase db{QString::fromLocal8Bit(argv[1])};
    std::mt19937 random(20261206);
    std::vector<int> weights;
    for (const Site& site : kSites)
        weights.push_back(site.weight);
    std::discrete_distribution<int> pickSite(weights.begin(), weights.end());
    // Busy in the day and the evening, quiet at night.
    std::discrete_distribution<int> pickHour(
        {1, 1, 1, 1, 1, 1, 2, 4, 6, 8, 9, 9, 8, 9, 9, 8, 8, 9, 10, 12, 12, 10, 6, 3});
    std::lognormal_distribution<double> size(11.5, 2.0);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };

    const QDateTime now = QDateTime::currentDateTime();
    const QStringList groups{QStringLiteral("Proxy"), QStringLiteral("Auto"), QStringLiteral("Streaming")};
    const int flows = 6000;
    for (int i = 0; i < flows; ++i) {
        const Site& site = kSites[pickSite(random)];
        // Recent days are denser: a square bias towards today.
        const double u = double(random()) / double(std::mt19937::max());
        const int daysBack = int(30 * u * u);
        QDateTime start(now.date().addDays(-daysBack), QTime(pickHour(random), pick(60), pick(60)));
        if (start > now)
            start = now.addSecs(-pick(3600));
        ConnectionItem item;
        item.id = QStringLiteral("demo-%1").arg(i);
        item.start = start.toUTC();
        item.metadata.host = QString::fromLatin1(site.host);
        item.metadata.destinationIP = QString::fromLatin1(site.ip);
        item.metadata.destinationPort = QStringLiteral("443");
        item.metadata.sourceIP =
            QStringLiteral("192.168.1.%1").arg(QList<int>{23, 23, 23, 42, 42, 57, 88}[pick(7)]);
        item.metadata.network = pick(6) ? QStringLiteral("tcp") : QStringLiteral("udp");
        item.metadata.type = QStringLiteral("HTTP");
        item.metadata.process = QStringList{"firefox", "chromium", "slack", "curl", "apt"}[pick(5)];
        const QString country = QString::fromLatin1(site.country);
        const qint64 bytes = qint64(std::min(size(random), 4.0e9));
        if (country == QLatin1String("LAN")) {
            item.chains = {QStringLiteral("DIRECT")};
            item.rule = QStringLiteral("DomainSuffix");
            item.rulePayload = QStringLiteral("lan");
        } else if (QString::fromLatin1(site.host).startsWith(QLatin1String("ads."))) {
            item.chains = {QStringLiteral("REJECT")};
            item.rule = QStringLiteral("DomainKeyword");
            item.rulePayload = QStringLiteral("ads");
        } else if (country == QLatin1String("CN") || pick(5) == 0) {
            item.chains = {QStringLiteral("DIRECT")};
            item.rule = QStringLiteral("GeoIP");
            item.rulePayload = QStringLiteral("CN");
        } else {
            const Node& node = kNodes[pick(4)];
            const QString group = groups[site.weight >= 18 ? 2 : pick(2)];
            item.chains = group == QLatin1String("Proxy")
                              ? QStringList{QString::fromUtf8(node.name), group}
                              : QStringList{QString::fromUtf8(node.name), group, QStringLiteral("Proxy")};
            item.metadata.remoteDestination = QString::fromLatin1(node.server);
            item.rule = QString::fromLatin1(site.host).contains(QLatin1String("github"))
                            ? QStringLiteral("DomainSuffix")
                            : QStringLiteral("Match");
            item.rulePayload = item.rule == QLatin1String("Match") ? QString() : QStringLiteral("github.com");
        }
        item.upload = bytes / 20 + pick(4000);
        item.download = bytes;
        db.recordOpened(item, 1, QStringLiteral("Demo Subscription"));
        db.recordClosed(item);
    }

    QList<GeoCacheEntry> geo;
    for (const Site& site : kSites)
        geo.append({QString::fromLatin1(site.ip), QString::fromLatin1(site.country), {}, {}});
    for (const Node& node : kNodes)
        geo.append({QString::fromLatin1(node.server), QString::fromLatin1(node.country), {}, {}});
    db.insertGeoCache(geo);
    std::printf("%d flows\n", db.rowCount());
    return 0;
}
