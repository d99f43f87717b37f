#pragma once
// Test disks for the volume finder: a sparse disk of any size (zeros except the sectors put
// into it, optionally with unreadable sectors) that logs every read, and builders of the
// tables and boot sectors the finder looks for.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "support/RecordingFeedback.h"
#include "disk/readWriteInterface.h"

namespace quenlow::test {

using Sector = std::array<unsigned char, 512>;

class SparseDisk : public disk::readWriteInterface {
public:
    explicit SparseDisk(uint64_t sectors) : sectors_(sectors) { handle = 1; }
    bool open(const std::string&) override { return true; }
    bool seek(int64_t offset, int32_t = 0) override {
        if (offset + baseOffset < 0) return false;
        pos_ = offset + baseOffset;
        return true;
    }
    bool read(void* buffer, uint32_t count) override {
        reads.push_back({pos_, count});
        auto* out = static_cast<unsigned char*>(buffer);
        std::memset(out, 0, count);
        uint64_t end = static_cast<uint64_t>(pos_) + count;
        if (end > sectors_ * 512) outsideReads++;
        uint64_t first = static_cast<uint64_t>(pos_) / 512;
        for (auto it = data.lower_bound(first); it != data.end() && it->first * 512 < end; ++it) {
            uint64_t from = it->first * 512;
            for (int i = 0; i < 512; ++i)
                if (from + i >= static_cast<uint64_t>(pos_) && from + i < end) out[from + i - pos_] = it->second[i];
        }
        for (uint64_t bad : badSectors)
            if (bad * 512 < end && bad * 512 + 512 > static_cast<uint64_t>(pos_)) return false;
        pos_ += count;
        return end <= sectors_ * 512;
    }
    int64_t sizeBytes() const override { return static_cast<int64_t>(sectors_ * 512); }

    Sector& at(uint64_t sector) { return data[sector]; }

    struct Read { int64_t offset; uint32_t count; };
    std::map<uint64_t, Sector> data;
    std::vector<uint64_t> badSectors;
    std::vector<Read> reads;
    int outsideReads = 0;

private:
    uint64_t sectors_;
    int64_t pos_ = 0;
};

inline void put16(unsigned char* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
inline void put32(unsigned char* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
inline void put64(unsigned char* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
inline void putBe32(unsigned char* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (24 - 8 * i)) & 0xFF; }

// One 16-byte MBR (or EBR) entry.
inline void mbrEntry(Sector& s, int index, unsigned char type, uint32_t lba, uint32_t count) {
    unsigned char* e = s.data() + 446 + 16 * index;
    e[4] = type;
    put32(e + 8, lba);
    put32(e + 12, count);
    s[510] = 0x55, s[511] = 0xAA;
}

inline Sector ntfsBoot(uint64_t totalSectors) {
    Sector s{};
    s[0] = 0xEB, s[1] = 0x52, s[2] = 0x90;
    std::memcpy(&s[3], "NTFS    ", 8);
    put16(&s[11], 512);
    s[13] = 8;
    put64(&s[40], totalSectors);
    s[510] = 0x55, s[511] = 0xAA;
    return s;
}

inline Sector exfatBoot(uint64_t length) {
    Sector s{};
    s[0] = 0xEB, s[1] = 0x76, s[2] = 0x90;
    std::memcpy(&s[3], "EXFAT   ", 8);
    put64(&s[72], length);
    s[510] = 0x55, s[511] = 0xAA;
    return s;
}

// A FAT boot sector with a consistent parameter block.
struct FatGeometry {
    const char* oem = "mkfs.fat";
    uint16_t bytesPerSector = 512;
    uint8_t perCluster = 4;
    uint16_t reserved = 4;
    uint8_t fats = 2;
    uint16_t rootEntries = 512;
    uint16_t total16 = 0;
    uint32_t total32 = 0;
    uint16_t perFat16 = 0;
    uint32_t perFat32 = 0;
    unsigned char jump1 = 0x3C;
    uint8_t media = 0xF8;
    bool signature = true;
};

inline Sector fatBoot(const FatGeometry& g) {
    Sector s{};
    s[0] = 0xEB, s[1] = g.jump1, s[2] = 0x90;
    std::memcpy(&s[3], g.oem, std::min<size_t>(8, std::strlen(g.oem)));
    put16(&s[11], g.bytesPerSector);
    s[13] = g.perCluster;
    put16(&s[14], g.reserved);
    s[16] = g.fats;
    put16(&s[17], g.rootEntries);
    put16(&s[19], g.total16);
    s[21] = g.media;
    put16(&s[22], g.perFat16);
    put32(&s[32], g.total32);
    if (g.perFat16 == 0) {
        put32(&s[36], g.perFat32);
        put32(&s[44], 2);  // root cluster
    }
    if (g.signature) s[510] = 0x55, s[511] = 0xAA;
    return s;
}

// mkfs.fat-like FAT16 of `total` sectors (4 sectors per cluster).
inline FatGeometry fat16Geometry(uint32_t total) {
    FatGeometry g;
    if (total < 65536) g.total16 = static_cast<uint16_t>(total); else g.total32 = total;
    g.perFat16 = static_cast<uint16_t>((total / 4 + 2) * 2 / 512 + 1);
    return g;
}

// mkfs.fat-like FAT32 of `total` sectors (1 sector per cluster).
inline FatGeometry fat32Geometry(uint32_t total) {
    FatGeometry g;
    g.jump1 = 0x58;
    g.perCluster = 1;
    g.reserved = 32;
    g.rootEntries = 0;
    g.total32 = total;
    g.perFat32 = (total + 2) * 4 / 512 + 1;
    return g;
}

inline Sector hfsHeader(uint32_t blockSize, uint32_t blocks) {
    Sector s{};
    s[0] = 'H', s[1] = '+', s[2] = 0, s[3] = 4;
    putBe32(&s[40], blockSize);
    putBe32(&s[44], blocks);
    return s;
}

// A GPT: header at sector 1 pointing at an entry array at `arraySector`.
struct GptEntry {
    uint64_t first = 0, last = 0;
    std::string name;
    unsigned char typeFirstByte = 0xA2;
};

inline void writeGpt(SparseDisk& d, const std::vector<GptEntry>& entries, uint64_t arraySector = 2) {
    Sector& mbr = d.at(0);
    mbrEntry(mbr, 0, 0xEE, 1, 0xFFFFFFFF);
    Sector& h = d.at(1);
    std::memcpy(h.data(), "EFI PART", 8);
    put64(&h[72], arraySector);
    for (size_t i = 0; i < entries.size(); ++i) {
        Sector& s = d.at(arraySector + i / 4);
        unsigned char* e = s.data() + (i % 4) * 128;
        e[0] = entries[i].typeFirstByte;
        e[1] = 0x11;
        put64(e + 32, entries[i].first);
        put64(e + 40, entries[i].last);
        for (size_t c = 0; c < entries[i].name.size() && c < 36; ++c) e[56 + 2 * c] = static_cast<unsigned char>(entries[i].name[c]);
    }
}

}  // namespace quenlow::test
