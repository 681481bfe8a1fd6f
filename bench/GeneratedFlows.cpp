#include "GeneratedFlows.h"

#include "history/FlowDatabase.h"

#include <QDir>
#include <QFile>

namespace tarnwick {

const QStringList kProfiles{QStringLiteral("Default"), QStringLiteral("Work"), QStringLiteral("Travel")};

// 5 000 hosts, 40 nodes and DIRECT/REJECT, 60 rules, 3 profiles, 60 days up to now.
ConnectionItem generatedFlow(std::mt19937& random, qint64 index, double now)
{
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    ConnectionItem item;
    item.id = QStringLiteral("%1-%2").arg(index).arg(pick(1 << 30));
    item.start = QDateTime::fromMSecsSinceEpoch(
        qint64((now - 60 * 86400.0 + pick(60 * 86400)) * 1000) + pick(1000), Qt::UTC);
    const int route = pick(100);
    if (route < 15)
        item.chains = {QStringLiteral("DIRECT")};
    else if (route < 18)
        item.chains = {QStringLiteral("REJECT")};
    else
        item.chains = QStringList{QStringLiteral("Node %1").arg(pick(40)),
                                  QStringLiteral("Group %1").arg(pick(8)), QStringLiteral("Proxy")}
                          .mid(0, 1 + pick(3));
    item.rule = QStringLiteral("Rule%1").arg(pick(12));
    item.rulePayload = QStringLiteral("payload%1").arg(pick(5));
    item.upload = random() % 200000;
    item.download = random() % 5000000;
    ConnectionMetadata& m = item.metadata;
    m.host = pick(10) ? QStringLiteral("host%1.example.com").arg(pick(5000)) : QString();
    m.destinationIP = QStringLiteral("203.%1.%2.%3").arg(pick(4)).arg(pick(250)).arg(pick(250));
    m.destinationPort = QStringLiteral("443");
    m.sourceIP = QStringLiteral("192.168.1.%1").arg(pick(12));
    m.remoteDestination = route >= 18 ? QStringLiteral("198.51.100.%1").arg(pick(40)) : QString();
    m.network = pick(5) ? QStringLiteral("tcp") : QStringLiteral("udp");
    m.process = QStringLiteral("process%1").arg(pick(60));
    m.type = QStringLiteral("HTTP");
    return item;
}

// A workspace holding `rows` generated flows, made once and kept in the temporary directory.
QString workspaceWith(qint64 rows)
{
    const QString root = QDir::temp().filePath(QStringLiteral("tarnwick-flowbench-%1").arg(rows));
    if (QFile::exists(root + QStringLiteral("/Database/.complete")))
        return root;
    QDir(root).removeRecursively();
    {
        FlowDatabase db{root};
        std::mt19937 random(1234);
        const double now = double(QDateTime::currentSecsSinceEpoch());
        for (qint64 i = 0; i < rows; ++i) {
            ConnectionItem item = generatedFlow(random, i, now);
            db.recordOpened(item, 1, kProfiles[int(random() % 10 < 7 ? 0 : 1 + random() % 2)]);
            item.upload += random() % 10000;
            item.download += random() % 100000;
            db.recordClosed(item);
        }
        QList<GeoCacheEntry> geo;
        for (int i = 0; i < 40; ++i)
            geo.append({QStringLiteral("198.51.100.%1").arg(i), QStringLiteral("JP"), {}, {}});
        db.insertGeoCache(geo);
        db.vacuum();
        db.rowCount();
    }
    QFile(root + QStringLiteral("/Database/.complete")).open(QIODevice::WriteOnly);
    return root;
}

} // namespace tarnwick
