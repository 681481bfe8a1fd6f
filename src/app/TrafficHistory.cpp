#include "TrafficHistory.h"

#include "config/ClashPaths.h"
#include "history/FlowDatabase.h"
#include "history/GeoIPResolver.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QThreadPool>

namespace tarnwick {

namespace {

constexpr double kResolverInterval = 10.0;
constexpr int kDay = 86400;

} // namespace

TrafficHistory::TrafficHistory(const ClashPaths& paths, Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings)
{
    try {
        m_db = std::make_unique<FlowDatabase>(paths.applicationSupportDirectory());
    } catch (const std::exception& error) {
        qCCritical(lcAppState, "FlowDatabase init failed: %s", qUtf8Printable(describe(error)));
        return;
    }
    m_resolver = std::make_unique<GeoIPResolver>(*m_db, paths.workDirectory(), kResolverInterval);
    m_resolver->start();
    purgeExpired();
    m_dailyPurge.setObjectName(QStringLiteral("app.tarnwick.daily-db-purge"));
    m_dailyPurge.setTimerType(Qt::VeryCoarseTimer);
    m_dailyPurge.setInterval(kDay * 1000);
    connect(&m_dailyPurge, &QTimer::timeout, this, &TrafficHistory::purgeExpired);
    m_dailyPurge.start();
}

TrafficHistory::~TrafficHistory()
{
    // The resolver writes into the database: it stops first.
    m_resolver.reset();
    // The dashboard's loads read it on the global pool: they finish before it closes.
    QThreadPool::globalInstance()->waitForDone();
}

void TrafficHistory::purgeExpired()
{
    const qint64 days = m_settings.integer(QLatin1String(retentionKey), defaultRetentionDays);
    if (!m_db || days < 1)
        return;
    m_db->purge(QDateTime::currentDateTimeUtc().addSecs(-days * kDay));
}

void TrafficHistory::deleteAllData()
{
    if (!m_db)
        return;
    m_db->purge(QDateTime::currentDateTimeUtc().addSecs(3600));
    m_db->vacuum();
}

} // namespace tarnwick
