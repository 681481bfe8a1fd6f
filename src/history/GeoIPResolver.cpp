#include "GeoIPResolver.h"

#include "FlowDatabase.h"
#include "controller/IPClassifier.h"

#include <QLoggingCategory>
#include <QTimer>
#include <netdb.h>
#include <sys/socket.h>

namespace tarnwick {

namespace {

Q_LOGGING_CATEGORY(lcGeoIP, "app.tarnwick.GeoIPResolver")

constexpr int kBatch = 200;

// The first address the system resolver gives for a host name, as numeric text.
std::optional<QString> resolveName(const QString& name)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &results) != 0 || !results) {
        if (results)
            freeaddrinfo(results);
        return std::nullopt;
    }
    char host[1025];
    const int status =
        getnameinfo(results->ai_addr, results->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(results);
    if (status != 0)
        return std::nullopt;
    return QString::fromUtf8(host);
}

} // namespace

GeoIPResolver::GeoIPResolver(FlowDatabase& db, const QString& workDirectory, double interval)
    : m_db(db), m_reader(workDirectory), m_interval(interval)
{
    m_thread.setObjectName(QStringLiteral("app.tarnwick.GeoIPResolver"));
    m_context.moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
}

GeoIPResolver::~GeoIPResolver()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

void GeoIPResolver::start()
{
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            if (m_timer)
                return;
            auto* timer = new QTimer(&m_context);
            timer->setTimerType(Qt::PreciseTimer);
            timer->setInterval(int(m_interval * 1000));
            QObject::connect(timer, &QTimer::timeout, timer, [this] { resolveBatch(); });
            timer->start();
            m_timer = timer;
        },
        Qt::BlockingQueuedConnection);
    qCInfo(lcGeoIP, "GeoIP resolver started (interval=%fs)", m_interval);
}

void GeoIPResolver::stop()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        &m_context, [this] { delete m_timer.data(); }, Qt::BlockingQueuedConnection);
}

int GeoIPResolver::resolveBatch()
{
    const QStringList texts = m_db.unresolvedIPs(kBatch);
    if (texts.isEmpty())
        return 0;
    QList<GeoCacheEntry> entries;
    entries.reserve(texts.size());
    const auto placed = [this](const QString& text, const QString& address) {
        GeoCacheEntry entry{
            text, m_reader.lookupCountry(address).value_or(QStringLiteral("Unknown")), {}, {}};
        if (const auto asn = m_reader.lookupASN(address)) {
            entry.asn = asn->first;
            entry.org = asn->second;
        }
        return entry;
    };
    for (const QString& text : texts) {
        switch (IPClassifier::classify(text)) {
        case IPCategory::local:
            entries.append({text, QStringLiteral("Local"), {}, {}});
            break;
        case IPCategory::lan:
            entries.append({text, QStringLiteral("LAN"), {}, {}});
            break;
        case IPCategory::domain:
            if (const std::optional<QString> address = resolveName(text))
                entries.append(placed(text, *address));
            else
                entries.append({text, QStringLiteral("Unresolved"), {}, {}});
            break;
        case IPCategory::public_:
            entries.append(placed(text, text));
            break;
        }
    }
    m_db.insertGeoCache(entries);
    qCDebug(lcGeoIP, "Resolved %ld IPs/domains", long(entries.size()));
    return int(entries.size());
}

} // namespace tarnwick
