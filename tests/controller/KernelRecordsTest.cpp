#include "controller/ConnectionSnapshot.h"
#include "controller/DelayLevel.h"
#include "controller/LenientJson.h"
#include "controller/LogEntry.h"
#include "controller/MemorySnapshot.h"
#include "controller/MihomoRuleType.h"
#include "controller/OutboundMode.h"
#include "controller/ProxyGroup.h"
#include "controller/ProxyProvider.h"
#include "controller/RuleProviderItem.h"
#include "controller/TrafficSnapshot.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTime>

using namespace tarnwick;

namespace {

QJsonObject json(const char* text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

} // namespace

TEST(LenientJsonTest, IntegersFromNumbersAndDecimalStrings)
{
    const auto intOf = [](const char* value) {
        return LenientJson::intValue(json((QByteArray("{\"v\":") + value + "}").constData()).value("v"));
    };
    const std::pair<const char*, qint64> present[] = {
        {"42", 42},     {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"1.9", 1},     {"-1.9", -1},
        {"\"12\"", 12}, {"\"+7\"", 7},
        {"\"-7\"", -7}};
    for (const auto& [value, expected] : present)
        EXPECT_EQ(intOf(value), expected) << value;
    // Beyond 64 bits, or not a plain decimal: absent rather than clamped or half-parsed.
    for (const char* value : {"1e300", "18446744073709551615", "\"99999999999999999999\"", "\"\"", "\"-\"",
                              "\" 12\"", "\"12ms\"", "\"1.5\"", "true", "null", "[1]"})
        EXPECT_EQ(intOf(value), std::nullopt) << value;
}

TEST(KernelRecordsTest, GroupsDecodeWithMembersFromTheSameObject)
{
    const QJsonObject proxies = json(R"({
        "Auto": {"type": "URLTEST", "all": ["HK 01", "Ghost", "Failed", "Fresh"], "now": "HK 01",
                 "testUrl": "http://t/generate_204", "hidden": true, "icon": "https://i/a.png"},
        "Odd": {"type": "Socks5", "all": []},
        "Untyped": {"all": ["HK 01"]},
        "Mixed": {"type": "Selector", "all": ["HK 01", 3]},
        "HK 01": {"type": "Trojan", "udp": true, "xudp": false,
                  "history": [{"delay": 0}, {"delay": 120}]},
        "Failed": {"type": "Shadowsocks", "udp": "yes", "history": [{"delay": 80}, {"delay": 0}]},
        "Fresh": {"type": "Vmess", "udp": true, "xudp": true, "history": []},
        "DIRECT": {"type": "Direct", "history": []}
    })");
    // Keys in order; nodes and a group whose members are not all names are left out. The last history entry
    // counts (0: the test failed), a member without an entry is a bare name, and a string is not a boolean.
    const ProxyNode hk{"HK 01", "Trojan", 120, true, false};
    const QList<ProxyNode> members{hk,
                                   {"Ghost", std::nullopt, std::nullopt, false, false},
                                   {"Failed", "Shadowsocks", 0, false, false},
                                   {"Fresh", "Vmess", std::nullopt, true, true}};
    EXPECT_EQ(
        ProxyGroup::listFromJson(proxies),
        (QList<ProxyGroup>{
            {"Auto", GroupType::urlTest, "HK 01", members, "http://t/generate_204", true, "https://i/a.png"},
            {"Odd", GroupType::unknown, std::nullopt, {}, std::nullopt, false, std::nullopt},
            {"Untyped", GroupType::selector, std::nullopt, {hk}, std::nullopt, false, std::nullopt}}));
    EXPECT_EQ(delayLevel(0), DelayLevel::timeout);
    EXPECT_EQ(QStringList({members[0].detailLabel(), members[1].detailLabel(), members[3].detailLabel()}),
              QStringList({"Trojan / udp", "Proxy", "Vmess / xudp"}));
}

TEST(KernelRecordsTest, ProviderQuotaNeedsATotal)
{
    const ProxyProvider capitalised = ProxyProvider::fromJson(
        "sub", json(R"({"subscriptionInfo": {"Upload": 5, "Total": 0}, "proxies": [{"type": "Vless"}, 7]})"));
    EXPECT_EQ(capitalised.subscriptionInfo, std::nullopt);
    EXPECT_EQ(capitalised.type, "Proxy");
    EXPECT_EQ(capitalised.vehicleType, "Unknown");
    ASSERT_EQ(capitalised.proxies.size(), 2);
    EXPECT_EQ(capitalised.proxies[0].name, "Unknown");
    EXPECT_EQ(capitalised.proxies[0].type, "Vless");

    const ProxyProvider minimal =
        ProxyProvider::fromJson("sub", json(R"({"subscriptionInfo": {"total": 1}})"));
    EXPECT_EQ(minimal.subscriptionInfo, (SubscriptionInfo{0, 0, 1, 0}));

    // Lower-case keys win over capitalised ones; capitalised ones fill in; numbers may come as text.
    const ProxyProvider full = ProxyProvider::fromJson("sub", json(R"({
        "type": "Proxy", "vehicleType": "HTTP", "updatedAt": "2024-05-01T10:00:00.5+08:00",
        "subscriptionInfo": {"upload": 10, "Upload": 99, "Download": "20", "Total": 3e10, "Expire": 1767225600},
        "proxies": [{"name": "JP", "type": "Hysteria2", "udp": true, "history": [{"delay": 88}]}]})"));
    EXPECT_EQ(full.vehicleType, "HTTP");
    EXPECT_EQ(full.updatedAt, "2024-05-01T10:00:00.5+08:00");
    EXPECT_EQ(full.subscriptionInfo, (SubscriptionInfo{10, 20, 30000000000, 1767225600}));
    ASSERT_EQ(full.proxies.size(), 1);
    EXPECT_EQ(full.proxies[0], (ProxyNode{"JP", "Hysteria2", 88, true, false}));
}

TEST(KernelRecordsTest, ConnectionsDecodeLeniently)
{
    const ConnectionSnapshot snapshot = ConnectionSnapshot::fromJson(json(R"({
        "downloadTotal": 1.5e3, "uploadTotal": "77",
        "connections": [
            {"upload": 1, "download": 2},
            {"id": "a", "upload": 12.9, "download": 4096, "start": "2024-05-01T10:00:00Z",
             "chains": ["HK 01", "Proxy"], "rule": "DOMAIN-SUFFIX", "rulePayload": "example.com",
             "metadata": {"network": "udp", "type": "HTTP", "host": "", "sniffHost": "",
                          "destinationIP": "1.2.3.4", "destinationPort": "", "sourcePort": 5000}},
            {"id": "b", "upload": "3", "start": "2024-05-01T10:00:00.123456789+08:00", "chains": ["x", 1]},
            {"id": "c", "start": "yesterday"},
            "not an object"
        ]})"));
    EXPECT_EQ(snapshot.downloadTotal, 1500);
    EXPECT_EQ(snapshot.uploadTotal, 77);
    EXPECT_EQ(snapshot.activeCount, 5);
    ASSERT_EQ(snapshot.connections.size(), 3);

    const ConnectionItem& a = snapshot.connections[0];
    EXPECT_EQ(a.id, "a");
    EXPECT_EQ(a.upload, 12);
    EXPECT_EQ(a.download, 4096);
    EXPECT_EQ(a.start, QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC));
    EXPECT_EQ(a.metadata.sourcePort, ""); // a number where text belongs
    EXPECT_EQ(QStringList({a.outboundNode(), a.chainDescription(), a.displayHost(), a.destination(),
                           a.connectionTypeLabel(), a.protocolLabel()}),
              QStringList({"HK 01", "Proxy \u2192 HK 01", "1.2.3.4", "1.2.3.4", "HTTP | udp", "UDP"}));
    EXPECT_FALSE(a.isClosed);
    EXPECT_EQ(a.uploadSpeed, 0);

    const ConnectionItem& b = snapshot.connections[1];
    EXPECT_EQ(b.upload, 0); // text is not a number here
    EXPECT_EQ(b.start, QDateTime(QDate(2024, 5, 1), QTime(2, 0, 0, 123), Qt::UTC));
    EXPECT_TRUE(b.chains.isEmpty());
    EXPECT_EQ(b.outboundNode(), "DIRECT");
    EXPECT_EQ(b.destination(), "");

    // An unparsable start is the time of decoding.
    const ConnectionItem& c = snapshot.connections[2];
    EXPECT_LT(std::abs(c.duration()), 5.0);
}

TEST(KernelRecordsTest, ConnectionLabels)
{
    ConnectionItem item;
    item.metadata.network = "udp";
    item.metadata.destinationPort = "443";
    item.metadata.destinationIP = "9.9.9.9";
    EXPECT_EQ(item.protocolLabel(), "QUIC");
    EXPECT_EQ(item.connectionTypeLabel(), "udp");
    item.metadata.network = "tcp";
    EXPECT_EQ(item.protocolLabel(), "TCP");
    item.metadata.network = "UDP";
    item.metadata.destinationPort = "8443";
    EXPECT_EQ(item.protocolLabel(), "UDP");
    item.metadata.sniffHost = "video.example";
    EXPECT_EQ(item.protocolLabel(), "QUIC");
    EXPECT_EQ(item.destination(), "video.example:8443");
    item.metadata.host = "www.example";
    EXPECT_EQ(item.destination(), "www.example:8443");
}

TEST(KernelRecordsTest, StreamMessages)
{
    const auto traffic = TrafficSnapshot::fromJson(json(R"({"up": 1.9, "down": "12"})"));
    ASSERT_TRUE(traffic);
    EXPECT_EQ(traffic->upload, 1);
    EXPECT_EQ(traffic->download, 12);
    EXPECT_FALSE(traffic->id.isNull());
    EXPECT_NE(traffic->id, TrafficSnapshot::fromJson(QJsonObject())->id);
    const auto longNames = TrafficSnapshot::fromJson(json(R"({"upload": 5, "download": 6, "down": "x"})"));
    EXPECT_EQ(longNames->upload, 5);
    EXPECT_EQ(longNames->download, 6);

    EXPECT_EQ(MemorySnapshot::fromJson(json(R"({"inuse": 100, "oslimit": 0})")), (MemorySnapshot{100, 0}));
    EXPECT_EQ(MemorySnapshot::fromJson(json(R"({"inUse": "5", "osLimit": 9.9})")), (MemorySnapshot{5, 9}));

    const QString before = QTime::currentTime().toString("HH:mm:ss");
    const auto bare = LogEntry::fromJson(json(R"({"payload": 3})"));
    const QString after = QTime::currentTime().toString("HH:mm:ss");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->level, "info");
    EXPECT_EQ(bare->message, "");
    ASSERT_TRUE(bare->time);
    EXPECT_TRUE(*bare->time == before || *bare->time == after) << bare->time->toStdString();
    EXPECT_TRUE(QRegularExpression("^[0-9a-f-]{36}$").match(bare->id).hasMatch()) << bare->id.toStdString();

    const auto structured =
        LogEntry::fromJson(json(R"({"time": "10:11:12", "level": "warn", "message": "dial failed"})"));
    EXPECT_EQ(structured->level, "warn");
    EXPECT_EQ(structured->message, "dial failed");
    EXPECT_EQ(structured->time, "10:11:12");
    const auto plain = LogEntry::fromJson(json(R"({"type": "error", "level": "x", "payload": "boom"})"));
    EXPECT_EQ(plain->level, "error");
    EXPECT_EQ(plain->message, "boom");
}

// Raw values are what the kernel and the profile files spell, case and all.
TEST(KernelRecordsTest, EnumerationsRoundTripTheirRawValues)
{
    for (const MihomoRuleType type : allMihomoRuleTypes())
        EXPECT_EQ(mihomoRuleTypeFromRaw(rawValue(type)), type) << rawValue(type).toStdString();
    EXPECT_EQ(mihomoRuleTypeFromRaw("domain"), std::nullopt);
    EXPECT_EQ(mihomoRuleTypeFromRaw("FINAL"), std::nullopt);
    for (const OutboundMode mode : allOutboundModes())
        EXPECT_EQ(outboundModeFromRaw(rawValue(mode)), mode);
    EXPECT_EQ(outboundModeFromRaw("Global"), std::nullopt);
}

TEST(KernelRecordsTest, RuleProvidersRoundTrip)
{
    const RuleProviderItem item = RuleProviderItem::fromJson(
        "ads", json(R"({"behavior": "Domain", "format": "YamlRule", "ruleCount": "42", "type": "Rule",
                       "updatedAt": "2024-05-01T10:00:00Z", "vehicleType": "HTTP"})"));
    EXPECT_EQ(item.ruleCount, 42);
    EXPECT_EQ(item.toJson(),
              json(R"({"name": "ads", "behavior": "Domain", "format": "YamlRule", "ruleCount": 42,
                                     "type": "Rule", "updatedAt": "2024-05-01T10:00:00Z", "vehicleType": "HTTP"})"));
    EXPECT_EQ(RuleProviderItem::fromJson("ads", item.toJson()), item);
    EXPECT_EQ(RuleProviderItem::fromJson("x", json(R"({"ruleCount": [1]})")),
              (RuleProviderItem{"x", "", "", 0, "", "", ""}));
}
