#include "FlowRow.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <limits>

namespace tarnwick {

namespace {

constexpr qsizetype kChainTextLimit = 4096;

// The chain as JSON text. A busy kernel's connections share a few chains, so each distinct chain is written
// once (per calling thread) and its text reused.
QByteArray chainsText(const QStringList& chains)
{
    thread_local QHash<QStringList, QByteArray> written;
    const auto found = written.constFind(chains);
    if (found != written.cend())
        return *found;
    QByteArray text = QJsonDocument(QJsonArray::fromStringList(chains)).toJson(QJsonDocument::Compact);
    if (text.isEmpty())
        text = QByteArrayLiteral("[]");
    if (written.size() >= kChainTextLimit)
        written.clear();
    written.insert(chains, text);
    return text;
}

} // namespace

int FlowRow::parsePort(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return 0;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(value);
}

FlowRow FlowRow::from(const ConnectionItem& item, qint64 sessionID, const QString& profileName)
{
    const ConnectionMetadata& m = item.metadata;
    FlowRow row;
    row.connectionID = item.id.toUtf8();
    row.sessionID = sessionID;
    row.process = m.process.toUtf8();
    row.processPath = m.processPath.toUtf8();
    row.targetHost = item.displayHost().toUtf8();
    row.targetPort = parsePort(m.destinationPort);
    row.network = m.network.toUtf8();
    row.rule = item.rule.toUtf8();
    row.rulePayload = item.rulePayload.toUtf8();
    row.outboundNode = item.outboundNode().toUtf8();
    row.chains = chainsText(item.chains);
    row.inboundType = m.type.toUtf8();
    row.inboundName = m.inboundName.toUtf8();
    row.destinationIP = m.destinationIP.toUtf8();
    row.sniffHost = m.sniffHost.toUtf8();
    row.remoteDestination = m.remoteDestination.toUtf8();
    row.txBytes = item.upload;
    row.rxBytes = item.download;
    const QDateTime start = item.start.isValid() ? item.start : QDateTime::currentDateTimeUtc();
    row.tsStart = double(start.toMSecsSinceEpoch()) / 1000.0;
    row.profileName = profileName.toUtf8();
    row.sourceIP = m.sourceIP.toUtf8();
    if (item.chains.size() >= 2)
        row.policyGroup = item.chains[1].toUtf8();
    return row;
}

} // namespace tarnwick
