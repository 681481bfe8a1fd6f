#pragma once

#include "MMDBReader.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <functional>
#include <memory>

class QTimer;

namespace tarnwick {

class FlowDatabase;

// How the resolver treats an address or host name from the history.
enum class AddressCategory
{
    local,
    lan,
    domain,
    publicAddress
};
using AddressClassifier = std::function<AddressCategory(const QString&)>;

// The address classes of the history: loopback and unspecified addresses are local; private, link-local
// and unique-local ones LAN; text that cannot be an address literal a host name; the rest public.
AddressCategory classifyAddress(const QString& text);

// Places the history's destinations: every `interval` seconds, on a thread of its own, it takes up to
// 200 addresses and host names the GeoIP cache does not hold yet, looks them up in Country.mmdb and
// ASN.mmdb (host names resolved first), and stores one cache row for each, markers included, so each
// text is looked up once.
class GeoIPResolver final : public QObject
{
    Q_OBJECT

public:
    GeoIPResolver(FlowDatabase& db, const QString& workDirectory, double interval,
                  AddressClassifier classify);
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
    AddressClassifier m_classify;
    QThread m_thread;
    // Both live on m_thread.
    QObject m_context;
    QPointer<QTimer> m_timer;
};

} // namespace tarnwick
