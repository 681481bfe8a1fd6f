// Time from a kernel start to its controller answering, split into our own work (compile, validate,
// launch through the helper) and the kernel's start-up. Needs the provisioned kernel
// (scripts/provision-mihomo.sh) and the helper of this build (bin/tarnwick-helper).
#include "app/ConfigValidator.h"
#include "app/CoreSupervisor.h"
#include "app/HelperClient.h"
#include "config/ProfileStore.h"
#include "controller/MihomoClient.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <exception>

using namespace tarnwick;

namespace {

// Runs a task on this thread's event loop; rethrows its failure.
template <typename T> struct Outcome
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};

template <typename T> QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome)
{
    try {
        outcome->value.emplace(co_await task);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

QCoro::Task<int> asInt(QCoro::Task<> task)
{
    co_await task;
    co_return 0;
}

template <typename T> T run(QCoro::Task<T> task)
{
    auto outcome = std::make_shared<Outcome<T>>();
    auto driver = drive<T>(std::move(task), outcome);
    QDeadlineTimer deadline(60000);
    while (!outcome->done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    if (!outcome->done)
        throw std::runtime_error("timed out");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return std::move(*outcome->value);
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

void BM_KernelStartToController(benchmark::State& state)
{
    const QString kernel = QDir::homePath() + QStringLiteral("/.cache/tarnwick/mihomo-v1.19.30/mihomo");
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/tarnwick-helper");
    if (!QFileInfo(kernel).isExecutable() || !QFileInfo(helper).isExecutable()) {
        state.SkipWithError("the provisioned kernel or bin/tarnwick-helper is missing");
        return;
    }
    QTemporaryDir dir;
    const ClashPaths paths(dir.filePath(QStringLiteral("workspace")));
    paths.prepare();
    paths.seedDefaultProfileIfNeeded(QStringLiteral(TARNWICK_SOURCE_DIR "/resources/Default.yaml"));
    QDir().mkpath(paths.versionsDirectory() + QStringLiteral("v1.19.30"));
    QFile::copy(kernel, paths.versionsDirectory() + QStringLiteral("v1.19.30/mihomo"));
    QFile::link(QStringLiteral("versions/v1.19.30/mihomo"), paths.managedCoreExecutable());
    QFile::copy(QDir::homePath() + QStringLiteral("/.cache/tarnwick/geodata/Country.mmdb"),
                paths.workDirectory() + QStringLiteral("Country.mmdb"));

    Settings settings(dir.filePath(QStringLiteral("settings.ini")));
    settings.setInteger(QStringLiteral("apiPort"), freePort());
    settings.setInteger(QStringLiteral("mixedPort"), freePort());
    HelperRegistration::Options options;
    options.socketPath = dir.filePath(QStringLiteral("run/helper.sock"));
    options.helperExecutable = helper;
    options.systemctl = QStringLiteral("/bin/false");
    HelperClient helperClient(options, HelperClient::Timeouts{});
    ProfileStore profiles(paths, settings);
    const ConfigValidator validator(paths, 10.0);
    CoreSupervisor supervisor(paths, helperClient, settings);
    QNetworkAccessManager network;
    const MihomoClient client(ControllerEndpoint::fromSettings(settings), &network);
    // The helper is started once, as at boot; the figures are for a kernel start with the helper up.
    run(helperClient.getVersion());

    double compile = 0, validate = 0, launch = 0, startup = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        run(asInt(profiles.syncToRuntime(QStringLiteral("Default.yaml"))));
        const qint64 compiled = timer.nsecsElapsed();
        run(asInt(validator.validate(paths.runtimeConfigFile())));
        const qint64 validated = timer.nsecsElapsed();
        run(supervisor.start());
        const qint64 launched = timer.nsecsElapsed();
        for (;;) {
            try {
                run(client.version());
                break;
            } catch (const std::exception&) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            }
        }
        const qint64 answered = timer.nsecsElapsed();
        state.SetIterationTime(static_cast<double>(answered) / 1e9);
        compile += compiled / 1e6;
        validate += (validated - compiled) / 1e6;
        launch += (launched - validated) / 1e6;
        startup += (answered - launched) / 1e6;
        run(asInt(supervisor.stop()));
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["compile_ms"] = compile / n;
    state.counters["validate_ms"] = validate / n;
    state.counters["launch_ms"] = launch / n;
    state.counters["kernel_startup_ms"] = startup / n;
    run(asInt(helperClient.unregisterHelper()));
}

} // namespace

BENCHMARK(BM_KernelStartToController)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
