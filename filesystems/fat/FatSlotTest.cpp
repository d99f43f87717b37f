#include "filesystems/fat/FatSlotTest.h"

#include <array>
#include <cstring>

namespace quenlow::fs {

namespace {

// The byte sets the tests use, one bit each.
enum : uint16_t {
    kFirst32Folder = 1 << 0,
    kFirst32File = 1 << 1,
    kSecond32Piece = 1 << 2,
    kSecond32Folder = 1 << 3,
    kSecond32File = 1 << 4,
    kFirst16FolderLive = 1 << 5,
    kFirst16File = 1 << 6,
    kSecond16 = 1 << 7,
    kSecond16PieceLive = 1 << 8,
    kMarkerFirst = 1 << 9,
    kMarkerSecond = 1 << 10,
};

constexpr bool upper(unsigned b) { return b >= 0x41 && b <= 0x5B; }   // A-Z and '['
constexpr bool lower32(unsigned b) { return b >= 0x5F && b <= 0x7A; } // '_', '`' and a-z
constexpr bool lower16(unsigned b) { return b >= 0x61 && b <= 0x7A; } // a-z
constexpr bool digit(unsigned b) { return b >= 0x30 && b <= 0x39; }
constexpr bool letter(unsigned b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }
constexpr bool any(unsigned b, const char* extra) {
    for (; *extra != 0; ++extra)
        if (static_cast<unsigned char>(*extra) == b) return true;
    return false;
}

constexpr std::array<uint16_t, 256> makeClasses() {
    std::array<uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        const bool c32 = upper(b) || lower32(b) || digit(b), c16 = upper(b) || lower16(b) || digit(b);
        const bool e5 = b == 0xE5;
        uint16_t m = 0;
        if (c32 || e5 || any(b, "~$")) m |= kFirst32Folder;
        if (c32 || e5 || any(b, "~")) m |= kFirst32File;
        if (c32 || e5 || any(b, " ~,.)")) m |= kSecond32Piece;
        if (c32 || e5 || any(b, " ~.)")) m |= kSecond32Folder;
        if (c32 || e5 || any(b, " ~.")) m |= kSecond32File;
        if (c16 || any(b, "~$")) m |= kFirst16FolderLive;
        if (c16 || e5 || any(b, "~")) m |= kFirst16File;
        if (c16 || e5 || any(b, " ~.)")) m |= kSecond16;
        if (c16 || e5 || any(b, " ~.)_")) m |= kSecond16PieceLive;
        if (letter(b) || digit(b) || e5 || any(b, "~$")) m |= kMarkerFirst;
        if (letter(b) || digit(b) || e5 || any(b, " ~.)")) m |= kMarkerSecond;
        t[b] = m;
    }
    return t;
}
constexpr std::array<uint16_t, 256> kClasses = makeClasses();

bool is(uint8_t b, uint16_t set) { return (kClasses[b] & set) != 0; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return le16(p) | (static_cast<uint32_t>(le16(p + 2)) << 16); }

bool folderAttribute(uint8_t a) {
    return a == 0x10 || a == 0x11 || a == 0x12 || a == 0x14 || a == 0x15 || a == 0x16 || a == 0x30;
}

struct Fields {
    explicit Fields(const uint8_t* s)
        : tenths(s[13]), createTime(le16(s + 14)), createDate(le16(s + 16)), accessDate(le16(s + 18)),
          writeTime(le16(s + 22)), writeDate(le16(s + 24)), size(le32(s + 28)) {}
    uint8_t tenths;
    uint16_t createTime, createDate, accessDate, writeTime, writeDate;
    uint32_t size;
    bool datesValid() const {
        return FatSlotTest::validDate(writeDate) && FatSlotTest::validDate(createDate) &&
               FatSlotTest::validDate(accessDate);
    }
    bool timesValid() const { return FatSlotTest::validTime(createTime) && FatSlotTest::validTime(writeTime); }
    // FAT32 wants every stamp set, the creation tenths included.
    bool allStamped() const {
        return accessDate != 0 && createDate != 0 && createTime != 0 && writeTime != 0 && tenths != 0 && writeDate != 0;
    }
};

}  // namespace

bool FatSlotTest::validDate(uint16_t date) {
    const unsigned day = date & 31, month = (date >> 5) & 15;
    return day >= 1 && month >= 1 && month <= 12;
}

bool FatSlotTest::validTime(uint16_t time) { return (time >> 11) < 24 && ((time >> 5) & 63) < 60 && (time & 31) < 30; }

bool FatSlotTest::fat32Entry(const uint8_t* s, uint64_t maxCluster) {
    const uint8_t attr = s[11];
    if (attr == 0x0F) return is(s[1], kSecond32Piece) && s[12] == 0 && s[26] == 0;
    const bool folder = folderAttribute(attr);
    if (!folder && attr != 0x20) return false;
    const uint32_t cluster = (static_cast<uint32_t>(le16(s + 20)) << 16) | le16(s + 26);
    if (cluster == 0 || cluster >= maxCluster) return false;
    const Fields f(s);
    if (!f.allStamped() || !f.datesValid() || !f.timesValid()) return false;
    if (folder) return is(s[0], kFirst32Folder) && is(s[1], kSecond32Folder) && (s[0] == 0xE5 || f.size == 0);
    return is(s[0], kFirst32File) && is(s[1], kSecond32File) && (s[12] == 0 || s[12] == 0x18) && f.size != 0;
}

bool FatSlotTest::fat16Entry(const uint8_t* s, uint64_t maxCluster) {
    const uint8_t attr = s[11];
    if (attr == 0x0F) {
        const uint16_t second = s[0] == 0xE5 ? kSecond16 : kSecond16PieceLive;
        return is(s[1], second) && s[12] == 0 && s[26] == 0;
    }
    const bool folder = folderAttribute(attr);
    if (!folder && attr != 0x20 && attr != 0x26) return false;
    const uint32_t cluster = le16(s + 26);
    const Fields f(s);
    if (!f.datesValid() || !f.timesValid() || !is(s[1], kSecond16)) return false;
    if (folder) {
        if (s[0] == 0xE5) return true;
        return is(s[0], kFirst16FolderLive) && f.size == 0 && cluster != 0 && cluster < maxCluster;
    }
    return is(s[0], kFirst16File) && (s[12] == 0 || s[12] == 0x18) && cluster < maxCluster;
}

bool FatSlotTest::rootMarker(const uint8_t* s) {
    const uint8_t attr = s[11];
    bool kind = attr == 0x08;
    if (!kind && s[1] == 'R' && std::memcmp(s + 1, "RECYCLE", 7) == 0)
        kind = attr == 0x08 || folderAttribute(attr) || attr == 0x20;
    return kind && is(s[0], kMarkerFirst) && is(s[1], kMarkerSecond) && (s[12] == 0 || s[12] == 0x18) && s[28] == 0;
}

uint32_t FatSlotTest::dotPairCluster(const uint8_t* s, const uint8_t* next, bool highWord) {
    if (std::memcmp(s, ".          ", 11) != 0 || std::memcmp(next, "..         ", 11) != 0) return 0;
    if ((s[11] & 0x10) == 0 || (next[11] & 0x10) == 0) return 0;
    const uint32_t high = highWord ? le16(s + 20) : 0;
    return (high << 16) | le16(s + 26);
}

}  // namespace quenlow::fs
