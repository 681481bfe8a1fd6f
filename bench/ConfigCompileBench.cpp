// The runtime-configuration compile of a large subscription, end to end and phase by phase, so that a
// regression shows where it comes from. Target for the end-to-end run: 150 ms.
#include "GeneratedSubscription.h"
#include "config/AtomicFile.h"
#include "config/ConfigCompiler.h"
#include "config/EngineSettings.h"
#include "config/yaml/Parser.h"
#include "platform/Settings.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace tarnwick;

namespace {

struct Fixture
{
    QTemporaryDir dir;
    QString source = dir.filePath(QStringLiteral("profiles/Generated.yaml"));
    QString target = dir.filePath(QStringLiteral("work/config.json"));
    Settings settings{dir.filePath(QStringLiteral("settings.ini"))};
    QByteArray yaml = bench::generatedSubscription();

    Fixture() { AtomicFile::write(source, yaml); }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

// What the profile store does for every activation: read, compose, convert, lay over the engine settings,
// serialise, write atomically (and free what was built).
void BM_CompileEndToEnd(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state)
        ConfigCompiler::compileAndWrite(f.source, f.target,
                                        EngineSettings::buildOverridesFromDefaults(f.settings), {});
    state.SetBytesProcessed(state.iterations() * f.yaml.size());
    state.counters["input_MB"] = double(f.yaml.size()) / 1e6;
}

// The phases one by one; each times only its own work, so that together they account for the whole.
void BM_Read(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(AtomicFile::read(fixture().source));
}

void BM_Compose(benchmark::State& state)
{
    for (auto _ : state) {
        std::optional<Node> root = Parser::compose(QByteArrayView(fixture().yaml));
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
}

void BM_Convert(benchmark::State& state)
{
    const Node root = *Parser::compose(QByteArrayView(fixture().yaml));
    for (auto _ : state) {
        std::optional<NativeValue::Dictionary> profile = root.toNativeDictionary();
        state.PauseTiming();
        profile.reset();
        state.ResumeTiming();
    }
}

void BM_LayOver(benchmark::State& state)
{
    const NativeValue::Dictionary profile =
        *Parser::compose(QByteArrayView(fixture().yaml))->toNativeDictionary();
    for (auto _ : state) {
        state.PauseTiming();
        NativeValue::Dictionary copy = profile;
        state.ResumeTiming();
        NativeValue::Dictionary config = ConfigCompiler::assemble(
            std::move(copy), EngineSettings::buildOverridesFromDefaults(fixture().settings), {});
        state.PauseTiming();
        config.clear();
        state.ResumeTiming();
    }
}

void BM_Serialise(benchmark::State& state)
{
    const NativeValue config(ConfigCompiler::assemble(
        *Parser::compose(QByteArrayView(fixture().yaml))->toNativeDictionary(), {}, {}));
    for (auto _ : state)
        benchmark::DoNotOptimize(config.toJson(NativeValue::JsonFormat::Pretty));
}

void BM_WriteAtomically(benchmark::State& state)
{
    const QByteArray json =
        NativeValue(ConfigCompiler::assemble(
                        *Parser::compose(QByteArrayView(fixture().yaml))->toNativeDictionary(), {}, {}))
            .toJson(NativeValue::JsonFormat::Pretty);
    for (auto _ : state)
        AtomicFile::write(fixture().target, json);
    state.SetBytesProcessed(state.iterations() * json.size());
}

// Freeing the node tree and the plain values: hundreds of thousands of small allocations.
void BM_Free(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto root = std::make_unique<Node>(*Parser::compose(QByteArrayView(fixture().yaml)));
        auto profile = std::make_unique<NativeValue>(*root->toNativeDictionary());
        state.ResumeTiming();
        root.reset();
        profile.reset();
    }
}

} // namespace

BENCHMARK(BM_CompileEndToEnd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compose)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayOver)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Serialise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteAtomically)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Free)->Unit(benchmark::kMillisecond);
