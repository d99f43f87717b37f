#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <vector>

#include "platform/ByteReader.h"

TEST(ByteReader, BothByteOrdersAndFieldsAtOrPastTheEnd) {
    const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    const quenlow::platform::ByteReader in(bytes);
    using Fields = std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t>;  // le/be 16, 32, 64
    const std::pair<size_t, Fields> cases[] = {
        {1, {0x0302, 0x0203, 0x05040302, 0x02030405, 0x0908070605040302, 0x0203040506070809}},
        {5, {0x0706, 0x0607, 0x09080706, 0x06070809, 0, 0}},  // 32 bits end at the end, 64 run past it
        {8, {0, 0, 0, 0, 0, 0}},
        {std::numeric_limits<size_t>::max() - 1, {0, 0, 0, 0, 0, 0}},  // at + size overflows
    };
    for (const auto& [at, want] : cases)
        EXPECT_EQ(Fields(in.le16(at), in.be16(at), in.le32(at), in.be32(at), in.le64(at), in.be64(at)), want) << at;
    EXPECT_EQ(std::tuple(in.u8(8), in.u8(9), in.fits(9, 0), in.fits(10, 0)), std::tuple(uint8_t{9}, uint8_t{0}, true, false));
    EXPECT_EQ(std::tuple(in.equals(2, "\x03\x04"), in.equals(1, "\x03"), in.equals(8, "\x09\x0a")), std::tuple(true, false, false));
}
