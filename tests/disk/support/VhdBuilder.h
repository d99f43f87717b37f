#pragma once
// Builds VHD files in memory from a raw disk image: dynamic disks with any block size, table
// place and block order, and fixed disks. Used by the tests and the read benchmark.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

namespace quenlow::test {

struct VhdLayout {
    uint32_t blockBytes = 2 * 1024 * 1024;
    uint64_t tableOffset = 1536;
    // Blocks left unallocated; by default every block that holds only zeros.
    std::vector<bool> unallocated;
    // Places the blocks in the file in a shuffled order (seeded) instead of in block order.
    bool shuffle = false;
    uint32_t seed = 1;
    // Overrides of what the footer and header say (0 / -1: the true values).
    uint64_t currentSize = 0;
    int64_t maxTableEntries = -1;
    uint32_t diskType = 3;
};

inline void putBe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline void putBe64(unsigned char* p, uint64_t v) {
    putBe32(p, static_cast<uint32_t>(v >> 32));
    putBe32(p + 4, static_cast<uint32_t>(v));
}

inline uint32_t onesComplementSum(const unsigned char* p, size_t bytes, size_t skipAt) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes; ++i)
        if (i < skipAt || i >= skipAt + 4) sum += p[i];
    return ~sum;
}

inline std::vector<unsigned char> vhdFooter(uint32_t diskType, uint64_t currentSize, uint64_t dataOffset) {
    std::vector<unsigned char> f(512, 0);
    std::memcpy(f.data(), "conectix", 8);
    putBe32(f.data() + 8, 2);
    putBe32(f.data() + 12, 0x00010000);
    putBe64(f.data() + 16, dataOffset);
    std::memcpy(f.data() + 28, "test", 4);
    putBe64(f.data() + 40, currentSize);
    putBe64(f.data() + 48, currentSize);
    putBe32(f.data() + 60, diskType);
    putBe32(f.data() + 64, onesComplementSum(f.data(), 512, 64));
    return f;
}

inline std::vector<unsigned char> buildFixedVhd(const std::vector<unsigned char>& image) {
    std::vector<unsigned char> out(image);
    out.resize((image.size() + 511) / 512 * 512, 0);
    auto footer = vhdFooter(2, out.size(), ~uint64_t{0});
    out.insert(out.end(), footer.begin(), footer.end());
    return out;
}

inline std::vector<unsigned char> buildDynamicVhd(const std::vector<unsigned char>& image,
                                                  const VhdLayout& layout = {}) {
    const uint64_t blockBytes = layout.blockBytes;
    const uint64_t blockSectors = blockBytes / 512;
    const uint64_t bitmapBytes = ((blockSectors + 7) / 8 + 511) / 512 * 512;
    const uint64_t blocks = (image.size() + blockBytes - 1) / blockBytes;
    const uint64_t size = layout.currentSize != 0 ? layout.currentSize : blocks * blockBytes;
    const uint32_t entries = layout.maxTableEntries >= 0 ? static_cast<uint32_t>(layout.maxTableEntries)
                                                         : static_cast<uint32_t>(blocks);

    std::vector<unsigned char> out(512, 0);
    auto footer = vhdFooter(layout.diskType, size, 512);
    std::memcpy(out.data(), footer.data(), 512);
    std::vector<unsigned char> header(1024, 0);
    std::memcpy(header.data(), "cxsparse", 8);
    putBe64(header.data() + 8, ~uint64_t{0});
    putBe64(header.data() + 16, layout.tableOffset);
    putBe32(header.data() + 24, 0x00010000);
    putBe32(header.data() + 28, entries);
    putBe32(header.data() + 32, layout.blockBytes);
    putBe32(header.data() + 36, onesComplementSum(header.data(), 1024, 36));
    out.insert(out.end(), header.begin(), header.end());

    const uint64_t tableBytes = (uint64_t{entries} * 4 + 511) / 512 * 512;
    out.resize(std::max<uint64_t>(out.size(), layout.tableOffset + tableBytes), 0);
    for (uint32_t i = 0; i < entries; ++i) putBe32(out.data() + layout.tableOffset + uint64_t{i} * 4, 0xFFFFFFFFu);

    std::vector<uint64_t> order(blocks);
    std::iota(order.begin(), order.end(), 0);
    if (layout.shuffle) std::shuffle(order.begin(), order.end(), std::mt19937(layout.seed));
    for (uint64_t b : order) {
        const uint64_t begin = b * blockBytes;
        const uint64_t end = std::min<uint64_t>(begin + blockBytes, image.size());
        bool skip = b < layout.unallocated.size()
                        ? static_cast<bool>(layout.unallocated[b])
                        : std::all_of(image.begin() + static_cast<std::ptrdiff_t>(begin),
                                      image.begin() + static_cast<std::ptrdiff_t>(end),
                                      [](unsigned char c) { return c == 0; });
        if (skip) continue;
        const uint64_t at = out.size();
        if (b < entries) putBe32(out.data() + layout.tableOffset + b * 4, static_cast<uint32_t>(at / 512));
        out.resize(at + bitmapBytes + blockBytes, 0);
        std::memset(out.data() + at, 0xFF, bitmapBytes);
        std::memcpy(out.data() + at + bitmapBytes, image.data() + begin, end - begin);
    }
    out.insert(out.end(), footer.begin(), footer.end());
    return out;
}

}  // namespace quenlow::test
