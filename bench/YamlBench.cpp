// Composing (with the full marked tree) and converting YAML, against libyaml parsing the same bytes to
// events. Inputs: a generated subscription of about 5.6 MB (20 000 one-line flow-mapping proxies with
// emoji and CJK names, one group listing them all, 30 000 rules) and every file of
// ../shared/testdata/profiles.

#include "GeneratedSubscription.h"
#include "config/yaml/Parser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>
#include <yaml.h>

using namespace tarnwick;

namespace {

// Heap memory in use by this process, in bytes.
qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

void compose(benchmark::State& state, const QByteArray& yaml)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Parser::composeAll(QByteArrayView(yaml)));
    state.SetBytesProcessed(qint64(state.iterations()) * yaml.size());
    // What holding the tree costs (the input itself is not counted).
    const qint64 before = heapInUse();
    const QList<Node> documents = Parser::composeAll(QByteArrayView(yaml));
    state.counters["tree_MB"] = double(heapInUse() - before) / 1e6;
}

void composeAndConvert(benchmark::State& state, const QByteArray& yaml)
{
    for (auto _ : state) {
        for (const Node& document : Parser::composeAll(QByteArrayView(yaml)))
            benchmark::DoNotOptimize(document.toNative());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * yaml.size());
    const qint64 before = heapInUse();
    const QList<Node> documents = Parser::composeAll(QByteArrayView(yaml));
    QList<NativeValue> values;
    for (const Node& document : documents)
        values.append(document.toNative());
    state.counters["tree_and_values_MB"] = double(heapInUse() - before) / 1e6;
}

void libyamlEvents(benchmark::State& state, const QByteArray& yaml)
{
    for (auto _ : state) {
        yaml_parser_t parser;
        yaml_parser_initialize(&parser);
        yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(yaml.constData()),
                                     size_t(yaml.size()));
        yaml_event_t event;
        bool done = false;
        while (!done) {
            if (!yaml_parser_parse(&parser, &event)) {
                state.SkipWithError("libyaml rejected the input");
                break;
            }
            done = event.type == YAML_STREAM_END_EVENT;
            yaml_event_delete(&event);
        }
        yaml_parser_delete(&parser);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * yaml.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void registerAll()
{
    const QByteArray subscription = bench::generatedSubscription();
    std::printf("generated subscription: %.2f MB\n", double(subscription.size()) / 1e6);
    benchmark::RegisterBenchmark("subscription/compose", compose, subscription)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("subscription/compose+convert", composeAndConvert, subscription)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("subscription/libyaml_events", libyamlEvents, subscription)
        ->Unit(benchmark::kMillisecond);

    const QDir profiles(QStringLiteral(TARNWICK_SOURCE_DIR "/../shared/testdata/profiles"));
    for (const QFileInfo& file : profiles.entryInfoList({QStringLiteral("*.yaml"), QStringLiteral("*.yml")},
                                                        QDir::Files, QDir::Name)) {
        const QByteArray yaml = readFile(file.filePath());
        const std::string name = "profile/" + file.completeBaseName().toStdString();
        bool valid = true;
        try {
            Parser::composeAll(QByteArrayView(yaml));
        } catch (const Error&) {
            valid = false; // the two files that are invalid on purpose
        }
        if (valid)
            benchmark::RegisterBenchmark((name + "/compose+convert").c_str(), composeAndConvert, yaml)
                ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/libyaml_events").c_str(), libyamlEvents, yaml)
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
