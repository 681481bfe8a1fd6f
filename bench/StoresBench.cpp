// The live stores under load. Targets: one "/connections" message of 10 000 connections decoded and
// applied to the connection store in 15 ms, the apply alone in 5 ms; a burst of 10 000 log lines within a
// second published at most 5 times, with the list capped.
#include "controller/ConnectionSnapshotDecoder.h"
#include "controller/ConnectionStore.h"
#include "controller/LogStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QUuid>
#include <benchmark/benchmark.h>

using namespace tarnwick;

namespace {

const char* const hosts[] = {"www.google.com",      "api.github.com",  "i.ytimg.com",
                             "clients4.google.com", "slack-edge.com",  "cdn.jsdelivr.net",
                             "graph.facebook.com",  "s3.amazonaws.com"};
const char* const processes[] = {"Google Chrome Helper", "Slack Helper", "curl", "Spotify", "Code Helper"};
const char* const chains[] = {R"(["HK 01 IPLC","Proxy"])", R"(["JP Tokyo 03","Auto","Proxy"])",
                              R"(["DIRECT"])", R"(["US 05","Streaming"])"};

// A "/connections" message as the kernel sends it: every field it reports, realistic values, `count`
// connections whose ids are the same from one call to the next, their byte counters moved by `round`.
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

void BM_ConnectionsDecode(benchmark::State& state)
{
    const QByteArray message = connectionsMessage(static_cast<int>(state.range(0)), 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(ConnectionSnapshotDecoder::decode(message));
    state.counters["bytes"] = static_cast<double>(message.size());
}

// The same message through Qt's JSON tree, for comparison.
void BM_ConnectionsDecodeJsonTree(benchmark::State& state)
{
    const QByteArray message = connectionsMessage(static_cast<int>(state.range(0)), 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(ConnectionSnapshot::fromJson(QJsonDocument::fromJson(message).object()));
}

// Applying a snapshot whose ids the previous one held: speeds for every connection, none closed.
void BM_ConnectionsApply(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const ConnectionSnapshot first = *ConnectionSnapshotDecoder::decode(connectionsMessage(count, 0));
    const ConnectionSnapshot second = *ConnectionSnapshotDecoder::decode(connectionsMessage(count, 1));
    QNetworkAccessManager network;
    ConnectionStore store(MihomoClient(ControllerEndpoint{"127.0.0.1", 9, ""}, &network));
    store.apply(first);
    bool toggle = false;
    for (auto _ : state) {
        // The copy is the decoder's output and not the store's work.
        state.PauseTiming();
        ConnectionSnapshot next = toggle ? first : second;
        next.connections.detach();
        state.ResumeTiming();
        store.apply(std::move(next));
        toggle = !toggle;
    }
}

// 10 000 log lines arriving within one second in bursts of 100 every 10 ms: publications and the cost of
// receiving one line (decoding included, as the stream does it).
void BM_LogBurst(benchmark::State& state)
{
    QNetworkAccessManager network;
    LogStore store(MihomoClient(ControllerEndpoint{"127.0.0.1", 9, ""}, &network), 2000);
    QList<QJsonObject> lines;
    for (int i = 0; i < 10000; ++i)
        lines.append(
            QJsonObject{{"type", "info"},
                        {"payload", QStringLiteral("[TCP] 127.0.0.1:%1 --> www.example.com:443 match "
                                                   "DomainSuffix(example.com) using Proxy[HK 01]")
                                        .arg(40000 + i)}});
    int publications = 0;
    QObject::connect(&store, &LogStore::entriesChanged, [&publications] { ++publications; });
    qint64 receiveNs = 0;
    for (auto _ : state) {
        publications = 0;
        store.clear();
        QElapsedTimer burst;
        burst.start();
        for (int i = 0; i < 10000; i += 100) {
            QElapsedTimer receiving;
            receiving.start();
            QList<LogEntry> batch;
            for (int j = i; j < i + 100; ++j)
                batch.append(*LogEntry::fromJson(lines[j]));
            store.receive(std::move(batch));
            receiveNs += receiving.nsecsElapsed();
            while (burst.elapsed() < (i + 100) / 10)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        while (burst.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        state.counters["publications"] = benchmark::Counter(publications);
        store.stopStreaming();
        if (store.entries().size() != 2000)
            state.SkipWithError("the list is not capped at 2000");
    }
    state.counters["receive_ns_per_line"] =
        benchmark::Counter(static_cast<double>(receiveNs) / 10000.0, benchmark::Counter::kAvgIterations);
}

} // namespace

BENCHMARK(BM_ConnectionsDecode)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectionsDecodeJsonTree)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectionsApply)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogBurst)->Iterations(3)->Unit(benchmark::kMillisecond);
