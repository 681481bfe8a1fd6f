// The live stores under load. Targets: one "/connections" message of 10 000 connections decoded and
// applied to the connection store in 15 ms, the apply alone in 5 ms; a burst of 10 000 log lines within a
// second published at most 5 times, with the list capped.
#include "GeneratedConnections.h"
#include "controller/ConnectionSnapshotDecoder.h"
#include "controller/ConnectionStore.h"
#include "controller/LogStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <benchmark/benchmark.h>

using namespace tarnwick;

namespace {

// A decoder that refuses the message, or drops connections, would be timed as fast: each case checks one
// decode first.
bool decodesWhole(benchmark::State& state, const QByteArray& message)
{
    const std::optional<ConnectionSnapshot> snapshot = ConnectionSnapshotDecoder::decode(message);
    if (snapshot && snapshot->connections.size() == state.range(0))
        return true;
    state.SkipWithError("the message did not decode into all its connections");
    return false;
}

void BM_ConnectionsDecode(benchmark::State& state)
{
    const QByteArray message = bench::connectionsMessage(static_cast<int>(state.range(0)), 0);
    if (!decodesWhole(state, message))
        return;
    for (auto _ : state)
        benchmark::DoNotOptimize(ConnectionSnapshotDecoder::decode(message));
    state.counters["bytes"] = static_cast<double>(message.size());
}

// A table none of whose connections the decoder has seen (the first message, or a table that turned over
// within a second): every element is read in full.
void BM_ConnectionsDecodeUnseen(benchmark::State& state)
{
    const QByteArray message = bench::connectionsMessage(static_cast<int>(state.range(0)), 0);
    const QByteArray renamed = QByteArray(message).replace(R"("id":")", R"("id":"x)");
    if (!decodesWhole(state, renamed) || !decodesWhole(state, message))
        return;
    bool toggle = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConnectionSnapshotDecoder::decode(toggle ? message : renamed));
        toggle = !toggle;
    }
}

// The first message of a stream: the decoder has nothing to recall from (an empty table, decoded untimed,
// makes it forget the last one).
void BM_ConnectionsDecodeFirst(benchmark::State& state)
{
    const QByteArray message = bench::connectionsMessage(static_cast<int>(state.range(0)), 0);
    const QByteArray empty = R"({"connections":[]})";
    if (!decodesWhole(state, message))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        benchmark::DoNotOptimize(ConnectionSnapshotDecoder::decode(empty));
        state.ResumeTiming();
        benchmark::DoNotOptimize(ConnectionSnapshotDecoder::decode(message));
    }
}

// What the stream pays before decoding: QWebSocket hands a text frame over as UTF-16 (it has no way to give
// its bytes), which the stream turns back into UTF-8.
void BM_ConnectionsTextRoundTrip(benchmark::State& state)
{
    const QByteArray message = bench::connectionsMessage(static_cast<int>(state.range(0)), 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(QString::fromUtf8(message).toUtf8());
}

// The same message through Qt's JSON tree, for comparison.
void BM_ConnectionsDecodeJsonTree(benchmark::State& state)
{
    const QByteArray message = bench::connectionsMessage(static_cast<int>(state.range(0)), 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(ConnectionSnapshot::fromJson(QJsonDocument::fromJson(message).object()));
}

// Applying a snapshot whose ids the previous one held: speeds for every connection, none closed.
void BM_ConnectionsApply(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const ConnectionSnapshot first = *ConnectionSnapshotDecoder::decode(bench::connectionsMessage(count, 0));
    const ConnectionSnapshot second = *ConnectionSnapshotDecoder::decode(bench::connectionsMessage(count, 1));
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
BENCHMARK(BM_ConnectionsDecodeUnseen)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectionsDecodeFirst)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectionsTextRoundTrip)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectionsDecodeJsonTree)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectionsApply)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogBurst)->Iterations(3)->Unit(benchmark::kMillisecond);
