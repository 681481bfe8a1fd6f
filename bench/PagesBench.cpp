// The main window's heaviest pages on Qt's offscreen platform. Targets: the policy page of the generated
// 20 000-node subscription opens (built, laid out, painted) in 300 ms; one "/connections" message of
// 10 000 connections costs the requests page 10 ms of main-thread time beyond the store's own work
// (BM_RequestsPageApply minus BM_RequestsStoreApply).
#include "GeneratedConnections.h"
#include "GeneratedSubscription.h"
#include "app/AppState.h"
#include "app/HelperClient.h"
#include "config/ConfigParser.h"
#include "controller/ConnectionSnapshotDecoder.h"
#include "controller/ConnectionStore.h"
#include "controller/ProxyStore.h"
#include "platform/Settings.h"
#include "ui/windows/GuiAlertPresenter.h"
#include "ui/windows/PolicyPage.h"
#include "ui/windows/RequestsPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>

using namespace tarnwick;

namespace {

// Stands in for the kernel's controller: "/proxies" describes the subscription's nodes and its group as
// the kernel does; every other request gets an empty object.
class ControllerStandIn final
{
public:
    explicit ControllerStandIn(const ConfigStructure& config)
    {
        QJsonObject proxies;
        QJsonArray all;
        for (qsizetype i = 0; i < config.proxies.size(); ++i) {
            const QString& name = config.proxies[i];
            all.append(name);
            const QJsonArray history{
                QJsonObject{{"time", "2026-12-06T20:00:00Z"}, {"delay", int(40 + i % 900)}}};
            proxies.insert(
                name, QJsonObject{{"name", name}, {"type", "Vmess"}, {"udp", true}, {"history", history}});
        }
        for (const QString& group : config.proxyGroups)
            proxies.insert(group, QJsonObject{{"name", group},
                                              {"type", "Selector"},
                                              {"now", all.first()},
                                              {"all", all},
                                              {"history", QJsonArray()}});
        m_proxies = QJsonDocument(QJsonObject{{"proxies", proxies}}).toJson(QJsonDocument::Compact);
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
    }

    quint16 port() const { return m_server.serverPort(); }

private:
    void answer(QTcpSocket* socket)
    {
        const QByteArray request = socket->readAll();
        const QByteArray body = request.startsWith("GET /proxies ") ? m_proxies : QByteArray("{}");
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QTcpServer m_server;
    QByteArray m_proxies;
};

// The application's state in a temporary workspace; the kernel is never started.
struct Application
{
    QTemporaryDir dir;
    Settings settings{dir.filePath(QStringLiteral("settings.ini"))};
    HelperClient helper{[this] {
                            HelperRegistration::Options options;
                            options.socketPath = dir.filePath(QStringLiteral("helper.sock"));
                            options.systemctl = QStringLiteral("/bin/false");
                            return options;
                        }(),
                        HelperClient::Timeouts{}};
    GuiAlertPresenter alerts;
    std::unique_ptr<AppState> state;

    Application()
    {
        settings.setBoolean(QStringLiteral("update.autoCheck"), false);
        AppEnvironment environment;
        environment.settings = &settings;
        environment.paths = ClashPaths(dir.filePath(QStringLiteral("workspace")));
        environment.helper = &helper;
        environment.alertPresenter = &alerts;
        environment.defaultProfileResource = QStringLiteral(TARNWICK_SOURCE_DIR "/resources/Default.yaml");
        state = std::make_unique<AppState>(environment);
    }
};

void settle(QWidget& widget)
{
    QApplication::processEvents();
    widget.repaint();
}

void BM_PolicyPageOpen(benchmark::State& state)
{
    const QByteArray subscription = bench::generatedSubscription();
    const ConfigStructure config = ConfigParser::parseBytes(subscription);
    ControllerStandIn controller(config);
    Application application;
    QNetworkAccessManager network;
    application.state->kernelStores().setClient(MihomoClient(
        ControllerEndpoint{QStringLiteral("127.0.0.1"), controller.port(), QString()}, &network));
    ProxyStore& store = application.state->proxyStore();
    QCoro::waitFor(store.refresh());
    if (store.groups().isEmpty() || store.groups().first().proxies.size() != 20000)
        state.SkipWithError("the store did not take the 20 000 nodes");
    for (auto _ : state) {
        PolicyPage page(*application.state);
        page.resize(1100, 760);
        page.show();
        settle(page);
        if (page.model().rowCount() < 1)
            state.SkipWithError("the page shows no group");
    }
}

// The page opened and its 20 000-member group expanded.
void BM_PolicyPageExpandGroup(benchmark::State& state)
{
    const ConfigStructure config = ConfigParser::parseBytes(bench::generatedSubscription());
    ControllerStandIn controller(config);
    Application application;
    QNetworkAccessManager network;
    application.state->kernelStores().setClient(MihomoClient(
        ControllerEndpoint{QStringLiteral("127.0.0.1"), controller.port(), QString()}, &network));
    QCoro::waitFor(application.state->proxyStore().refresh());
    PolicyPage page(*application.state);
    page.resize(1100, 760);
    page.show();
    settle(page);
    for (auto _ : state) {
        page.view().expand(page.view().model()->index(0, 0));
        settle(page);
        state.PauseTiming();
        page.view().collapseAll();
        settle(page);
        state.ResumeTiming();
    }
}

// Applies alternating messages of `count` connections (the same ids, moved byte counters) to a store, with
// the requests page shown over it or not.
void applyConnections(benchmark::State& state, bool withPage)
{
    const int count = static_cast<int>(state.range(0));
    const ConnectionSnapshot first = *ConnectionSnapshotDecoder::decode(bench::connectionsMessage(count, 0));
    const ConnectionSnapshot second = *ConnectionSnapshotDecoder::decode(bench::connectionsMessage(count, 1));
    QNetworkAccessManager network;
    ConnectionStore store(
        MihomoClient(ControllerEndpoint{QStringLiteral("127.0.0.1"), 9, QString()}, &network));
    std::unique_ptr<RequestsPage> page;
    if (withPage) {
        page = std::make_unique<RequestsPage>(store);
        page->resize(1100, 760);
        page->show();
    }
    store.apply(first);
    if (page)
        settle(*page);
    bool toggle = false;
    qint64 applyNs = 0;
    qint64 paintNs = 0;
    QElapsedTimer clock;
    for (auto _ : state) {
        state.PauseTiming();
        ConnectionSnapshot next = toggle ? first : second;
        next.connections.detach();
        state.ResumeTiming();
        clock.start();
        store.apply(std::move(next));
        applyNs += clock.nsecsElapsed();
        if (page) {
            clock.start();
            settle(*page);
            paintNs += clock.nsecsElapsed();
        }
        toggle = !toggle;
    }
    // The store's signal reaches the page's models directly: "apply" is the store and the models, "paint"
    // the views' layout and painting after it.
    state.counters["apply_ms"] =
        benchmark::Counter(double(applyNs) / 1e6, benchmark::Counter::kAvgIterations);
    state.counters["paint_ms"] =
        benchmark::Counter(double(paintNs) / 1e6, benchmark::Counter::kAvgIterations);
}

void BM_RequestsStoreApply(benchmark::State& state)
{
    applyConnections(state, false);
}

void BM_RequestsPageApply(benchmark::State& state)
{
    applyConnections(state, true);
}

} // namespace

BENCHMARK(BM_PolicyPageOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolicyPageExpandGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RequestsStoreApply)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RequestsPageApply)->Arg(10000)->Unit(benchmark::kMillisecond);
