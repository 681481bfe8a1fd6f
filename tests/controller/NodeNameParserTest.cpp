#include "controller/NodeNameParser.h"

#include "controller/IPClassifier.h"
#include "support/TestSupport.h"

using namespace tarnwick;

TEST(NodeNameParserTest, FlagsPlacesAndStandaloneCodes)
{
    const std::pair<QString, std::optional<QString>> cases[] = {
        {"\U0001F1EF\U0001F1F5 Singapore relay", "JP"},
        {"Tokyo 01", "JP"},
        {"洛杉矶 02", "US"},
        {"Frankfurt 3", "DE"},
        {"  ", std::nullopt},
        {"HK01", "HK"},
        {"[SG] IPLC", "SG"},
        {"RU_speednode_0208", "RU"},
        {"us-west", "US"},
        {"英国 London", "GB"},
        // Codes inside longer words name no country.
        {"trojan-ws", std::nullopt},
        {"auto", std::nullopt},
        {"Local", std::nullopt},
        {"DisneyPlus", std::nullopt},
        {"mieru", std::nullopt},
    };
    for (const auto& [name, code] : cases)
        EXPECT_EQ(NodeNameParser::countryCode(name), code) << name.toStdString();
}

TEST(IPClassifierTest, Categories)
{
    const std::pair<const char*, IPCategory> cases[] = {
        {"", IPCategory::domain},
        {"127.0.0.1", IPCategory::local},
        {"0.0.0.0", IPCategory::local},
        {"10.1.2.3", IPCategory::lan},
        {"192.168.1.1", IPCategory::lan},
        {"169.254.0.9", IPCategory::lan},
        {"172.16.0.1", IPCategory::lan},
        {"172.31.255.255", IPCategory::lan},
        {"172.32.0.1", IPCategory::public_},
        {"172.15.0.1", IPCategory::public_},
        {"172.abc", IPCategory::domain},
        {"FE80::1", IPCategory::lan},
        {"fd00::1", IPCategory::lan},
        {"::1", IPCategory::local},
        {"2001:db8::1", IPCategory::public_},
        {"router", IPCategory::domain},
        {"cafe::1", IPCategory::public_},
        {"8.8.8.8", IPCategory::public_},
    };
    for (const auto& [address, category] : cases)
        EXPECT_EQ(IPClassifier::classify(address), category) << address;
    EXPECT_EQ(rawValue(IPCategory::domain), "Unresolved");
    EXPECT_EQ(rawValue(IPCategory::public_), "public");
}
