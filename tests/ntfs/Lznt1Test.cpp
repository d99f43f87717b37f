#include <gtest/gtest.h>

#include <random>

#include "filesystems/ntfs/Lznt1.h"
#include "ntfs/support/Lznt1Compressor.h"

using quenlow::fs::Lznt1;
using quenlow::test::lznt1Compress;

namespace {
std::vector<uint8_t> decompress(const std::vector<uint8_t>& in, size_t capacity, bool* ok = nullptr) {
    std::vector<uint8_t> out(capacity, 0xEE);
    Lznt1::Result r = Lznt1::decompress(in.data(), in.size(), out.data(), out.size());
    out.resize(r.written);
    if (ok) *ok = r.ok;
    return out;
}
}  // namespace

TEST(Lznt1, RoundTripsTextRandomAndRepeatsOverWholeUnits) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data;
    for (int i = 0; i < 9000; ++i) data.push_back(static_cast<uint8_t>("the quick brown fox "[i % 20]));
    for (int i = 0; i < 5000; ++i) data.push_back(static_cast<uint8_t>(rng()));
    data.insert(data.end(), 6000, 'z');  // long overlapping back-references
    for (int i = 0; i < 12000; ++i) data.push_back(static_cast<uint8_t>((i * 7) ^ (i >> 5)));
    std::vector<uint8_t> packed = lznt1Compress(data);
    EXPECT_LT(packed.size(), data.size());
    bool ok = false;
    EXPECT_EQ(decompress(packed, data.size(), &ok), data);
    EXPECT_TRUE(ok);
}

TEST(Lznt1, StoredChunksAndShortFinalChunk) {
    std::vector<uint8_t> data(4096 + 100);
    std::mt19937 rng(3);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> packed = lznt1Compress(data);
    EXPECT_EQ(packed[0], 0xFF);
    EXPECT_EQ(packed[1], 0x3F);  // the first chunk is stored
    EXPECT_EQ(decompress(packed, data.size() + 50), data);
    // A stored chunk shorter than 4096 bytes (size field + 1 bytes).
    std::vector<uint8_t> shortStored = {0x04, 0x30, 'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(decompress(shortStored, 100), (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}));
}

TEST(Lznt1, StopsAtCapacityAndAtEndMarker) {
    std::vector<uint8_t> data(10000, 'q');
    std::vector<uint8_t> packed = lznt1Compress(data);
    EXPECT_EQ(decompress(packed, 1234), std::vector<uint8_t>(1234, 'q'));
    std::vector<uint8_t> withEnd = packed;
    withEnd.insert(withEnd.begin() + 0, {0x00, 0x00});
    EXPECT_TRUE(decompress(withEnd, 100).empty());
}

TEST(Lznt1, MalformedInputFailsWithinBounds) {
    bool ok = true;
    // A back-reference as the chunk's first token points before the chunk.
    EXPECT_TRUE(decompress({0x02, 0xB0, 0x01, 0x00, 0x00}, 100, &ok).empty());
    EXPECT_FALSE(ok);
    // A chunk whose size runs past the input.
    decompress({0xFF, 0xBF, 0x00, 'a'}, 100, &ok);
    EXPECT_FALSE(ok);
    // A back-reference further back than the chunk holds.
    std::vector<uint8_t> far = {0x04, 0xB0, 0x02, 'a', 0x00, 0xF0};
    decompress(far, 100, &ok);
    EXPECT_FALSE(ok);
    // A chunk that would expand past 4096 bytes is held to 4096.
    std::vector<uint8_t> big = {0x00, 0xB0, 0x00, 'x'};
    std::vector<uint8_t> tokens;
    for (int i = 0; i < 400; ++i) tokens.insert(tokens.end(), {0xFF, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F,
                                                               0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F});
    big.insert(big.end(), tokens.begin(), tokens.begin() + 3000);
    uint16_t h = static_cast<uint16_t>(0xB000 | (big.size() - 3));
    big[0] = static_cast<uint8_t>(h);
    big[1] = static_cast<uint8_t>(h >> 8);
    EXPECT_LE(decompress(big, 1 << 20).size(), 4096u);
}
