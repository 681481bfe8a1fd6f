// The dashboard's windows on the offscreen platform.
// - Switching to the overview over a history of 1 000 000 flows: how long the main thread is busy
//   before the live tiles show, how long until the history's tiles show (one history load), and the
//   longest the main thread was kept from its events meanwhile. Target: live at once, history within
//   one load (the history bench's figure), the main thread never held by the database.
// - The traffic map at 1920 × 1080 with the provisioned world outlines and 200 flight paths: a redraw
//   for new traffic (shading and paths), for the hover (the drawn map reused) and for a new size (the
//   country layers too). Target ≤ 16 ms.
#include "GeneratedFlows.h"
#include "app/AppState.h"
#include "app/HelperClient.h"
#include "history/CountryCoordinates.h"
#include "history/OverviewAggregator.h"
#include "platform/Settings.h"
#include "ui/charts/WorldMap.h"
#include "ui/windows/DesktopFrontend.h"
#include "ui/windows/MainWindow.h"
#include "ui/windows/OverviewPage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <random>

using namespace tarnwick;

namespace {

QString worldFile()
{
    return QDir::homePath() + QStringLiteral("/.cache/tarnwick/geodata/countries.json");
}

QString figure(const QWidget& page, const QString& caption)
{
    for (const QLabel* label : page.findChildren<QLabel*>())
        if (label->accessibleName() == caption)
            return label->text();
    return {};
}

void BM_SwitchToOverview(benchmark::State& state)
{
    const QString root = workspaceWith(state.range(0));
    QTemporaryDir dir;
    Settings settings(dir.filePath(QStringLiteral("settings.ini")));
    settings.setBoolean(QStringLiteral("update.autoCheck"), false);
    settings.setBoolean(QStringLiteral("hasCompletedOnboarding"), true);
    settings.setText(QStringLiteral("activeProfileName"), kProfiles[0]);
    // The generated history is kept as it is: no retention purge.
    settings.setInteger(QStringLiteral("dbRetentionDays"), 0);
    for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
        settings.setText(QString::fromLatin1(key), QStringLiteral("http://127.0.0.1:9/missing"));
    HelperRegistration::Options options;
    options.socketPath = dir.filePath(QStringLiteral("run/helper.sock"));
    options.helperExecutable = QStringLiteral("/nonexistent");
    options.unitDirectory = dir.filePath(QStringLiteral("units"));
    options.systemctl = QStringLiteral("/bin/false");
    HelperClient helper(options, HelperClient::Timeouts{});
    DesktopFrontend frontend;
    AppEnvironment environment;
    environment.settings = &settings;
    environment.paths = ClashPaths(root);
    environment.helper = &helper;
    environment.alertPresenter = &frontend.alertPresenter();
    environment.defaultProfileResource = QStringLiteral(TARNWICK_SOURCE_DIR "/resources/Default.yaml");
    frontend.prepare(environment);
    AppState app(environment);
    frontend.attach(app, [] {});

    double historyMs = 0;
    double stallMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        MainWindow& window = frontend.openMainWindow(QStringLiteral("overview"));
        auto* page = qobject_cast<OverviewPage*>(window.page(QStringLiteral("overview")));
        QCoreApplication::processEvents(); // the first paint
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        // Until the history's tiles show, the event loop keeps turning: its longest gap is the stall.
        qint64 last = timer.nsecsElapsed();
        qint64 longest = 0;
        const QDeadlineTimer bound(120000);
        while (figure(*page, QStringLiteral("All-Time Connections")) == QLatin1String("0") &&
               !bound.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const qint64 at = timer.nsecsElapsed();
            longest = std::max(longest, at - last);
            last = at;
        }
        historyMs += double(timer.nsecsElapsed()) / 1e6;
        stallMs = std::max(stallMs, double(longest) / 1e6);
        window.close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.counters["history shown ms"] = historyMs / double(state.iterations());
    state.counters["longest stall ms"] = stallMs;
    frontend.detach();
}
BENCHMARK(BM_SwitchToOverview)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// 200 paths between the countries of the outline table, heavier towards the first ones.
QList<FlightPath> flightPaths(const CountryCoordinates& world)
{
    std::mt19937 random(5);
    QList<FlightPath> paths;
    const auto& countries = world.countries();
    for (int i = 0; i < 200; ++i) {
        const QString proxy = i % 5 == 0 ? QStringLiteral("DIRECT") : countries[random() % 20].iso;
        paths.append({QStringLiteral("CN"), proxy, countries[random() % countries.size()].iso,
                      quint64(1e10 / (1 + i))});
    }
    return paths;
}

enum class Redraw
{
    Traffic, // new flight paths: the land re-shaded, the paths drawn again
    Hover,   // the drawn map reused under the hover's outline
    Resize,  // a new size: the country layers drawn again too
};

void BM_MapDraw(benchmark::State& state, Redraw redraw)
{
    if (!QFile::exists(worldFile())) {
        state.SkipWithError("countries.json is not provisioned (scripts/provision-world.sh)");
        return;
    }
    const auto world = std::make_shared<const CountryCoordinates>(worldFile());
    WorldMap map;
    map.resize(1920, 1080);
    map.setWorld(world);
    const QList<FlightPath> paths = flightPaths(*world);
    QImage target(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    map.setFlightPaths(paths);
    map.render(&target);
    int width = 1920;
    for (auto _ : state) {
        if (redraw == Redraw::Traffic)
            map.setFlightPaths(paths);
        if (redraw == Redraw::Resize)
            map.resize(width ^= 1, 1080);
        map.render(&target);
    }
    state.counters["legs"] = map.drawnLegs();
}
// Wall time until the map is drawn, and the CPU of every thread of the process.
BENCHMARK_CAPTURE(BM_MapDraw, traffic, Redraw::Traffic)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_MapDraw, hover, Redraw::Hover)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_MapDraw, resize, Redraw::Resize)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

} // namespace
