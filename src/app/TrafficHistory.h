#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

namespace tarnwick {

class ClashPaths;
class FlowDatabase;
class GeoIPResolver;
class Settings;

// The application's traffic history: the flow database, the GeoIP resolver that places its addresses,
// and retention (a purge at start-up and once a day). When the database cannot be opened the
// application runs without history: both are absent and nothing is scheduled.
class TrafficHistory final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* retentionKey = "dbRetentionDays";
    static constexpr int defaultRetentionDays = 60;

    TrafficHistory(const ClashPaths& paths, Settings& settings, QObject* parent = nullptr);
    ~TrafficHistory() override;

    FlowDatabase* flowDatabase() const { return m_db.get(); }
    GeoIPResolver* geoIPResolver() const { return m_resolver.get(); }

    // Deletes the flows older than the retention setting (none when it is 0 or less).
    void purgeExpired();
    // "Delete All Data": every flow, also those starting within the next hour; the GeoIP cache stays.
    void deleteAllData();

private:
    Settings& m_settings;
    std::unique_ptr<FlowDatabase> m_db;
    std::unique_ptr<GeoIPResolver> m_resolver;
    QTimer m_dailyPurge;
};

} // namespace tarnwick
