#pragma once
// A small exFAT volume built in memory for the tests and the fuzz target: 512-byte sectors
// and clusters, the FAT at sector 16, the cluster heap at sector 32, the root at cluster 2.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quenlow::test {

class ExFatImage {
public:
    static constexpr uint32_t kClusters = 256;

    ExFatImage() : bytes((32 + kClusters) * 512, 0) {
        std::memcpy(bytes.data(), "\xEB\x76\x90" "EXFAT   ", 11);
        put64(72, bytes.size() / 512);                                // volume length
        put32(80, 16), put32(84, 16), put32(88, 32), put32(92, kClusters), put32(96, 2);  // FAT, heap, root
        bytes[108] = 9, bytes[109] = 0;
        fat(2, 0xFFFFFFFF);
    }
    size_t clusterAt(uint32_t c) const { return 32 * 512 + (c - 2) * 512; }
    void fat(uint32_t c, uint32_t next) { put32(16 * 512 + 4 * c, next); }
    void chain(const std::vector<uint32_t>& cs) {
        for (size_t i = 0; i < cs.size(); ++i) fat(cs[i], i + 1 < cs.size() ? cs[i + 1] : 0xFFFFFFFF);
    }

    // A file entry, a stream extension and the name entries the name needs (or `pieces`).
    struct Set {
        std::u16string name;
        uint16_t attributes = 0x20;
        bool deleted = false, contiguous = true;
        uint32_t firstCluster = 0;
        uint64_t size = 0;
        uint32_t modified = 0;
        uint8_t modified10ms = 0;
        int pieces = -1;
    };
    // Writes `s` at byte `at` of the volume; gives the byte after it.
    size_t set(size_t at, const Set& s) {
        const int pieces = s.pieces >= 0 ? s.pieces : static_cast<int>((s.name.size() + 14) / 15);
        std::memset(&bytes[at], 0, 32 * (2 + pieces));
        bytes[at] = s.deleted ? 0x05 : 0x85, bytes[at + 1] = static_cast<uint8_t>(1 + pieces);
        put16(at + 4, s.attributes);
        put32(at + 8, s.modified), put32(at + 12, s.modified), put32(at + 16, s.modified);
        bytes[at + 21] = s.modified10ms;
        bytes[at + 32] = s.deleted ? 0x40 : 0xC0, bytes[at + 33] = s.contiguous ? 3 : 1;
        bytes[at + 35] = static_cast<uint8_t>(s.name.size());
        put64(at + 40, s.size), put32(at + 52, s.firstCluster), put64(at + 56, s.size);
        for (int p = 0; p < pieces; ++p) {
            size_t n = at + 64 + 32 * p;
            bytes[n] = s.deleted ? 0x41 : 0xC1;
            for (size_t k = 0; k < 15 && 15 * p + k < s.name.size(); ++k) put16(n + 2 + 2 * k, s.name[15 * p + k]);
        }
        return at + 32 * (2 + pieces);
    }
    void fill(uint32_t c, size_t length, uint8_t seed) {
        for (size_t i = 0; i < length; ++i) bytes[clusterAt(c) + i] = static_cast<uint8_t>(seed + i * 7);
    }
    void put16(size_t at, uint16_t v) { bytes[at] = v & 0xFF, bytes[at + 1] = v >> 8; }
    void put32(size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); }
    void put64(size_t at, uint64_t v) { put32(at, static_cast<uint32_t>(v)), put32(at + 4, static_cast<uint32_t>(v >> 32)); }

    std::vector<uint8_t> bytes;
};

// year, month, day, hour, minute and the two-second count as one exFAT timestamp.
inline uint32_t exfatStamp(int year, int month, int day, int hour, int minute, int twoSeconds) {
    return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 | twoSeconds);
}

}  // namespace quenlow::test
