#include "TrafficMapPage.h"

#include "DesktopFrontend.h"
#include "PageHeader.h"
#include "app/AppState.h"
#include "history/CountryCoordinates.h"
#include "history/CountryFormatter.h"
#include "history/FlowDatabase.h"
#include "ui/charts/TopList.h"
#include "ui/charts/WorldMap.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QStandardPaths>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnwick {

namespace {

constexpr auto kWorldName = "countries.json";

} // namespace

QString TrafficMapPage::worldFile(const QString& workDirectory)
{
    const QString name = QString::fromLatin1(kWorldName);
    QStringList candidates{QDir(workDirectory).filePath(name)};
    const QString installed =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("tarnwick/") + name);
    if (!installed.isEmpty())
        candidates.append(installed);
    candidates.append(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tarnwick/") + name);
    for (const QString& candidate : std::as_const(candidates))
        if (QFileInfo(candidate).isFile())
            return candidate;
    return {};
}

TrafficMapPage::TrafficMapPage(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend)
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Traffic Map"), this);
    m_period = new QComboBox(header);
    m_period->setAccessibleName(QStringLiteral("Period"));
    m_period->addItem(QStringLiteral("All Time"), 0);
    m_period->addItem(QStringLiteral("Last 30 Days"), 30);
    m_period->addItem(QStringLiteral("Last 7 Days"), 7);
    m_period->addItem(QStringLiteral("Today"), 1);
    header->layout()->addWidget(m_period);
    layout->addWidget(header);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    m_note->setAccessibleName(QStringLiteral("Map note"));
    layout->addWidget(m_note);

    auto* row = new QHBoxLayout;
    m_map = new WorldMap(this);
    m_map->setAccessibleName(QStringLiteral("World map"));
    row->addWidget(m_map, 1);
    auto* side = new QVBoxLayout;
    auto* title = new QLabel(QStringLiteral("Countries"), this);
    QFont font = title->font();
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    side->addWidget(title);
    m_countries = new TopList(this);
    m_countries->setCapacity(14);
    m_countries->setAccessibleName(QStringLiteral("Countries"));
    m_countries->setMinimumWidth(240);
    side->addWidget(m_countries);
    side->addStretch(1);
    row->addLayout(side);
    layout->addLayout(row, 1);

    AppState& state = m_frontend.state();
    const QString world = worldFile(state.paths().workDirectory());
    QStringList notes;
    if (world.isEmpty())
        notes.append(
            QStringLiteral("The world outlines (%1) are not installed: countries are listed but not drawn.")
                .arg(QString::fromLatin1(kWorldName)));
    else
        m_map->setWorld(std::make_shared<const CountryCoordinates>(world));
    if (!state.history().flowDatabase())
        notes.append(QStringLiteral("Traffic history is off: its database could not be opened."));
    m_note->setText(notes.join(QLatin1Char(' ')));
    m_note->setVisible(!notes.isEmpty());

    m_refresh.setInterval(10000);
    connect(&m_refresh, &QTimer::timeout, this, &TrafficMapPage::load);
    connect(m_period, &QComboBox::currentIndexChanged, this, &TrafficMapPage::load);
}

void TrafficMapPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    load();
    m_refresh.start();
}

void TrafficMapPage::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_refresh.stop();
}

void TrafficMapPage::load()
{
    FlowDatabase* db = m_frontend.state().history().flowDatabase();
    if (!db)
        return;
    if (m_loading) {
        m_stale = true;
        return;
    }
    m_loading = true;
    m_stale = false;
    const int days = m_period->currentData().toInt();
    const QDateTime since = days == 0 ? FlowDatabase::distantPast()
                                      : QDateTime(QDate::currentDate().addDays(1 - days), QTime(0, 0));
    const std::optional<QString> profile = m_frontend.state().activeProfileName();
    QPointer<TrafficMapPage> self(this);
    QThreadPool::globalInstance()->start(
        [db, since, profile, self] {
            const QList<FlightPath> paths = db->trafficForFlightPaths(since, profile);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, paths] {
                    if (!self)
                        return;
                    self->m_loading = false;
                    if (self->m_stale)
                        self->load();
                    else
                        self->apply(paths);
                },
                Qt::QueuedConnection);
        },
        QThread::LowPriority);
}

void TrafficMapPage::apply(const QList<FlightPath>& paths)
{
    m_map->setFlightPaths(paths);
    QList<std::pair<QString, double>> ranked;
    const QHash<QString, WorldMap::Figures>& figures = m_map->figures();
    for (auto it = figures.cbegin(); it != figures.cend(); ++it)
        ranked.append({it.key(), it->total()});
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    QList<TopList::Row> rows;
    for (const auto& [code, bytes] : ranked)
        rows.append({CountryFormatter::display(code), bytes});
    m_countries->setRows(rows);
    emit loaded();
}

} // namespace tarnwick
