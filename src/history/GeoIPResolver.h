#pragma once

#include "MMDBReader.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <memory>

class QTimer;

namespace tarnwick {

class FlowDatabase;

// Places the history's destinations: every `interval` seconds, on a thread of its own, it takes up to
// 200 addresses and host names the GeoIP cache does not hold yet, sorts them with IPClassifier, looks the
// public ones up in Country.mmdb and ASN.mmdb (host names resolved first), and stores one cache row for
// each, markers included, so each text is looked up once.
class GeoIPResolver final : public QObject
{
    Q_OBJECT

public:
    GeoIPResolver(FlowDatabase& db, const QString& workDirectory, double interval);
    ~GeoIPResolver() override;

    void start();
    void stop();

    // One batch on the calling thread; the number of cache rows written. Never call it from the
    // database's own queue.
    int resolveBatch();

private:
    FlowDatabase& m_db;
    MMDBReader m_reader;
    double m_interval;
    QThread m_thread;
    // Both live on m_thread.
    QObject m_context;
    QPointer<QTimer> m_timer;
};

} // namespace tarnwick
