#include "GeneratedConnections.h"

#include <QRandomGenerator>
#include <QUuid>

namespace tarnwick::bench {

namespace {

const char* const hosts[] = {"www.google.com",      "api.github.com",  "i.ytimg.com",
                             "clients4.google.com", "slack-edge.com",  "cdn.jsdelivr.net",
                             "graph.facebook.com",  "s3.amazonaws.com"};
const char* const processes[] = {"Google Chrome Helper", "Slack Helper", "curl", "Spotify", "Code Helper"};
const char* const chains[] = {R"(["HK 01 IPLC","Proxy"])", R"(["JP Tokyo 03","Auto","Proxy"])",
                              R"(["DIRECT"])", R"(["US 05","Streaming"])"};

} // namespace

QByteArray connectionsMessage(int count, int round)
{
    QByteArray json = R"({"downloadTotal":98765432101,"uploadTotal":1234567890,"connections":[)";
    QRandomGenerator random(7);
    for (int i = 0; i < count; ++i) {
        const int h = static_cast<int>(random.bounded(8)), p = static_cast<int>(random.bounded(5));
        const QByteArray id = QUuid::fromRfc4122(QByteArray::number(i).rightJustified(16, '0'))
                                  .toString(QUuid::WithoutBraces)
                                  .toLatin1();
        const QByteArray process = processes[p];
        if (i > 0)
            json += ',';
        json +=
            R"({"id":")" + id + R"(","metadata":{"network":")" + (i % 7 ? "tcp" : "udp") +
            R"(","type":"HTTPS","sourceIP":"192.168.1.)" + QByteArray::number(i % 200) +
            R"(","destinationIP":"142.250.)" + QByteArray::number(i % 250) + '.' +
            QByteArray::number(i % 199) +
            R"(","sourceGeoIP":null,"destinationGeoIP":["US"],"sourceIPASN":"","destinationIPASN":"AS15169 Google LLC","sourcePort":")" +
            QByteArray::number(40000 + i % 20000) +
            R"(","destinationPort":"443","inboundIP":"127.0.0.1","inboundPort":"7890","inboundName":"DEFAULT-MIXED","inboundUser":"","host":")" +
            hosts[h] + R"(","dnsMode":"normal","uid":501,"process":")" + process +
            R"(","processPath":"/Applications/)" + process + R"(.app/Contents/MacOS/)" + process +
            R"(","specialProxy":"","specialRules":"","remoteDestination":"142.250.72.14","dscp":0,"sniffHost":""},"upload":)" +
            QByteArray::number(1000 + i + round * 10) + R"(,"download":)" +
            QByteArray::number(50000 + i * 3 + round * 100) +
            R"(,"start":"2026-12-06T19:31:26.123456789+08:00","chains":)" + chains[i % 4] +
            R"(,"rule":"DomainSuffix","rulePayload":"google.com","providerChains":[]})";
    }
    json += "]}";
    return json;
}

} // namespace tarnwick::bench
