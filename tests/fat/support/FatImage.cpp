#include "fat/support/FatImage.h"

#include <cstring>

namespace quenlow::test {

namespace {
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
}  // namespace

FatImage::FatImage(int b, uint32_t clusters, uint32_t rootEntries) : bits(b) {
    const uint32_t reserved = b == 32 ? 32 : 1;
    const uint32_t entriesPerSector = 512 / (b / 8);
    const uint32_t perFat = (clusters + 2 + entriesPerSector - 1) / entriesPerSector;
    const uint32_t rootSectors = b == 32 ? 0 : (rootEntries * 32 + 511) / 512;
    const uint32_t total = reserved + perFat + rootSectors + clusters;
    bytes.assign(uint64_t{total} * 512, 0);
    uint8_t* s = bytes.data();
    s[0] = 0xEB, s[1] = b == 32 ? 0x58 : 0x3C, s[2] = 0x90;
    std::memcpy(s + 3, "MSDOS5.0", 8);
    put16(s + 11, 512);
    s[13] = 1;
    put16(s + 14, reserved);
    s[16] = 1;
    put16(s + 17, b == 32 ? 0 : rootEntries);
    if (total < 65536) put16(s + 19, total); else put32(s + 32, total);
    s[21] = 0xF8;
    if (b == 32) {
        put32(s + 36, perFat);
        put32(s + 44, 2);
    } else {
        put16(s + 22, perFat);
    }
    s[510] = 0x55, s[511] = 0xAA;
    fatOffset = uint64_t{reserved} * 512;
    rootOffset = fatOffset + uint64_t{perFat} * 512;
    dataOffset = rootOffset + uint64_t{rootSectors} * 512;
    setFat(0, b == 32 ? 0x0FFFFFF8 : 0xFFF8);
    setFat(1, b == 32 ? 0x0FFFFFFF : 0xFFFF);
    if (b == 32) setFat(2, 0x0FFFFFFF);  // the root: one cluster
}

void FatImage::setFat(uint32_t c, uint32_t v) {
    if (bits == 32) put32(bytes.data() + fatOffset + 4ull * c, v);
    else put16(bytes.data() + fatOffset + 2ull * c, v);
}

void FatImage::chain(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i)
        setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : (bits == 32 ? 0x0FFFFFFF : 0xFFFF));
}

uint8_t* FatImage::rootEntry(uint32_t index) {
    return bits == 32 ? cluster(2) + 32 * index : bytes.data() + rootOffset + 32 * index;
}

void FatImage::setOem(const char* eight) { std::memcpy(bytes.data() + 3, eight, 8); }

void FatImage::entry(uint8_t* at, const std::string& name11, uint8_t attributes, uint32_t first, uint32_t size,
                     uint16_t date, uint16_t time) {
    std::memset(at, ' ', 11);
    std::memcpy(at, name11.data(), std::min<size_t>(11, name11.size()));
    at[11] = attributes;
    put16(at + 14, time);
    put16(at + 16, date);
    put16(at + 18, date);
    put16(at + 20, first >> 16);
    put16(at + 22, time);
    put16(at + 24, date);
    put16(at + 26, first & 0xFFFF);
    put32(at + 28, size);
}

int FatImage::longName(uint8_t* at, const std::u16string& name) {
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    int pieces = static_cast<int>((name.size() + 12) / 13);
    for (int p = 0; p < pieces; ++p) {
        uint8_t* e = at + 32 * (pieces - 1 - p);
        std::memset(e, 0, 32);
        e[0] = static_cast<uint8_t>((p + 1) | (p + 1 == pieces ? 0x40 : 0));
        e[11] = 0x0F;
        for (int k = 0; k < 13; ++k) {
            size_t i = static_cast<size_t>(p) * 13 + k;
            char16_t c = i < name.size() ? name[i] : i == name.size() ? 0 : 0xFFFF;
            put16(e + kOffsets[k], c);
        }
    }
    return pieces;
}

void FatImage::dots(uint8_t* at, uint32_t self, uint32_t parent) {
    entry(at, ".", 0x10, self, 0);
    entry(at + 32, "..", 0x10, parent, 0);
}

}  // namespace quenlow::test
