#include "controller/RateFormatter.h"

#include <gtest/gtest.h>

using namespace tarnwick;

TEST(RateFormatterTest, RatesBytesAndDurations)
{
    const struct
    {
        qint64 bytesPerSecond;
        const char* text;
    } rates[] = {
        {0, "0 KB/s"},
        {512, "0.5 KB/s"},
        {1, "0.0 KB/s"},
        {150 * 1024, "150 KB/s"},
        {qint64(99.5 * 1024), "99.5 KB/s"},
        {1048576, "1.0 MB/s"},
        {qint64(1) << 30, "1.0 GB/s"},
        {qint64(5) << 50, "5120 TB/s"},
    };
    for (const auto& rate : rates)
        EXPECT_EQ(RateFormatter::rate(rate.bytesPerSecond), QString::fromUtf8(rate.text))
            << rate.bytesPerSecond;

    EXPECT_EQ(RateFormatter::bytes(1023), "1023 B");
    EXPECT_EQ(RateFormatter::bytes(1536), "1.5 KB");
    EXPECT_EQ(RateFormatter::bytes(qint64(120) << 20), "120 MB");
    EXPECT_EQ(RateFormatter::duration(45), "45 s");
    EXPECT_EQ(RateFormatter::duration(192), "3 m 12 s");
    EXPECT_EQ(RateFormatter::duration(7500), "2 h 5 m");
    EXPECT_EQ(RateFormatter::duration(273600), "3 d 4 h");
}
