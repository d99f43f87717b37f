#include <gtest/gtest.h>

#include "platform/LocalTime.h"
#include "platform/TextConvert.h"

using namespace quenlow::platform;

TEST(TextConvert, Utf16ToUtf8HandlesPairsAndLoneSurrogates) {
    const uint8_t le[] = {'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'z', 0};
    // 'A', U+00E9, U+1F600 (a pair), a lone high surrogate, 'z'
    EXPECT_EQ(utf16leToUtf8(le, sizeof le), "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDz");
    const uint8_t be[] = {0, 'H', 0xDC, 0x00};
    EXPECT_EQ(utf16beToUtf8(be, sizeof be), "H\xEF\xBF\xBD");
    EXPECT_EQ(utf16leToUtf8(le, 3), "A");  // an odd trailing byte is ignored
}

TEST(LocalTime, FileTimeConvertsUnderTheProcessZone) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2020-02-29 13:07:05 UTC as a Windows file time.
    uint64_t ft = (1582981625ULL + 11644473600ULL) * 10000000ULL + 1234567;
    auto u = unixFromFileTime(ft);
    EXPECT_EQ(u.seconds, 1582981625);
    EXPECT_EQ(u.nanoseconds, 123456700);
    auto c = localFromFileTime(ft);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->year, 2020);
    EXPECT_EQ(c->month, 2);
    EXPECT_EQ(c->day, 29);
    EXPECT_EQ(c->hour, 13);
    EXPECT_EQ(c->minute, 7);
    EXPECT_FALSE(localFromUnix(INT64_MAX));
}
