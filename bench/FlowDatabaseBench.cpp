// The traffic history: recording speed on the database's worker, and one full load of the dashboard's
// history (every query of the snapshot) over 100 000 and 1 000 000 flows of realistic variety.
// Targets: ≥ 50 000 recorded rows per second; a load ≤ 200 ms at 1 000 000 flows. The direct variant
// answers with the plain SQL every figure must equal (at 100 000 flows; at a million it takes half a
// minute per load).
#include "GeneratedFlows.h"
#include "history/DashboardSnapshot.h"
#include "history/FlowDatabase.h"
#include "history/GeoIPResolver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <random>
#include <time.h>

using namespace tarnwick;

namespace {

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Timed in CPU seconds of the whole process (caller and worker): on a shared machine the wall clock
// mostly measures the other programs. "wall rows/s" is the figure at the load of the moment.
// live:0 records flows scattered over 60 days, the same ids every round (the harsh case, kept for
// comparison with earlier figures); live:1 records them as a running kernel hands them over: new ids,
// each starting a little after the one before.
void BM_RecordOpenedAndClosed(benchmark::State& state)
{
    const bool live = state.range(0) != 0;
    QTemporaryDir dir;
    FlowDatabase db{dir.path()};
    std::mt19937 random(42);
    const double now = double(QDateTime::currentSecsSinceEpoch());
    QList<ConnectionItem> items;
    for (int i = 0; i < 10000; ++i)
        items.append(generatedFlow(random, i, now));
    const QDateTime firstStart = QDateTime::currentDateTimeUtc();
    qint64 round = 0;
    double wall = 0;
    for (auto _ : state) {
        if (live) {
            for (qsizetype i = 0; i < items.size(); ++i) {
                const qint64 sequence = round * items.size() + i;
                items[i].id = QStringLiteral("live-%1").arg(sequence);
                items[i].start = firstStart.addMSecs(sequence * 5);
            }
        }
        ++round;
        const double cpu = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        for (const ConnectionItem& item : std::as_const(items)) {
            db.recordOpened(item, 1, kProfiles[0]);
            db.recordClosed(item);
        }
        // Waits until the worker has run every queued write.
        benchmark::DoNotOptimize(db.rowCount());
        state.SetIterationTime(processCpuSeconds() - cpu);
        wall += double(timer.nsecsElapsed()) / 1e9;
    }
    const double pairs = double(state.iterations() * items.size());
    state.SetItemsProcessed(qint64(pairs));
    state.counters["wall rows/s"] = pairs / wall;
}
BENCHMARK(BM_RecordOpenedAndClosed)
    ->ArgName("live")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

void BM_HistoryLoad(benchmark::State& state)
{
    const QString root = workspaceWith(state.range(0));
    const auto answering =
        state.range(1) ? FlowDatabase::Answering::direct : FlowDatabase::Answering::summarised;
    FlowDatabase db{root, answering};
    double wall = 0;
    for (auto _ : state) {
        const double cpu = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(DashboardHistory::load(db, kProfiles[0], QDateTime::currentDateTime()));
        state.SetIterationTime(processCpuSeconds() - cpu);
        wall += double(timer.nsecsElapsed()) / 1e6;
    }
    state.counters["wall ms"] = wall / double(state.iterations());
    state.counters["file MB"] = double(db.fileSize()) / 1e6;
}
BENCHMARK(BM_HistoryLoad)
    ->ArgNames({"flows", "direct"})
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Opening the file builds the running totals: the cost of a start-up (and of the offline CLI command).
void BM_OpenDatabase(benchmark::State& state)
{
    const QString root = workspaceWith(state.range(0));
    for (auto _ : state) {
        FlowDatabase db{root};
        benchmark::DoNotOptimize(db.rowCount());
    }
}
BENCHMARK(BM_OpenDatabase)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One resolver batch: 200 public addresses looked up in Country.mmdb and ASN.mmdb and cached.
void BM_GeoIPBatch(benchmark::State& state)
{
    const QString geodata = QDir::homePath() + QStringLiteral("/.cache/tarnwick/geodata");
    if (!QFile::exists(geodata + QStringLiteral("/Country.mmdb"))) {
        state.SkipWithError("Country.mmdb is not provisioned (scripts/provision-geodata.sh)");
        return;
    }
    std::mt19937 random(7);
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        FlowDatabase db{dir.path()};
        for (int i = 0; i < 200; ++i) {
            ConnectionItem item;
            item.id = QString::number(i);
            item.metadata.destinationIP = QStringLiteral("%1.%2.%3.%4")
                                              .arg(1 + random() % 223)
                                              .arg(random() % 256)
                                              .arg(random() % 256)
                                              .arg(1 + random() % 254);
            db.recordOpened(item, 1, {});
        }
        GeoIPResolver resolver{db, geodata, 10};
        db.rowCount();
        state.ResumeTiming();
        benchmark::DoNotOptimize(resolver.resolveBatch());
        db.rowCount();
    }
}
BENCHMARK(BM_GeoIPBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
