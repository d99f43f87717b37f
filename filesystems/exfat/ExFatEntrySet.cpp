#include "filesystems/exfat/ExFatEntrySet.h"

#include <algorithm>

#include "platform/TextConvert.h"

namespace quenlow::fs::exfat {

namespace {

// The entry at `at`: what of it lies inside `bytes` (the rest reads as zeros).
platform::ByteReader entryAt(std::span<const uint8_t> bytes, size_t at) {
    if (at >= bytes.size()) return {};
    return platform::ByteReader(bytes.subspan(at, std::min(kEntryBytes, bytes.size() - at)));
}

}  // namespace

void readFileEntry(const platform::ByteReader& e, ExFatDirRecord& r) {
    r.entryType = e.u8(0);
    r.attributes = e.le16(4);
    r.createTimestamp = e.le32(8);
    r.modifyTimestamp = e.le32(12);
    r.accessTimestamp = e.le32(16);
    r.create10ms = e.u8(20);
    r.modify10ms = e.u8(21);
    r.createUtcOffset = e.u8(22);
    r.modifyUtcOffset = e.u8(23);
    r.accessUtcOffset = e.u8(24);
}

void readStreamEntry(const platform::ByteReader& e, ExFatDirRecord& r) {
    r.streamType = e.u8(0);
    r.secondaryFlags = e.u8(1);
    r.nameLength = e.u8(3);
    r.validDataLength = e.le64(8);
    r.firstCluster = e.le32(20);
    r.dataLength = e.le64(24);
}

void appendNamePiece(const platform::ByteReader& e, std::u16string& name) {
    for (size_t k = 0; k < 15; ++k) {
        char16_t ch = e.le16(2 + 2 * k);
        if (ch == 0) break;
        name.push_back(ch);
    }
}

size_t acceptedSetEntries(std::span<const uint8_t> bytes) {
    const platform::ByteReader b(bytes);
    static constexpr uint8_t kAttributes[] = {0x10, 0x11, 0x12, 0x13, 0x15, 0x20, 0x30};
    bool attributeKnown = false;
    for (uint8_t a : kAttributes) attributeKnown = attributeKnown || b.u8(4) == a;
    if (!isFileEntry(b.u8(0)) || !attributeKnown || b.le16(6) != 0) return 0;
    for (size_t i = 25; i < 32; ++i)
        if (b.u8(i) != 0) return 0;
    const size_t s = kEntryBytes;
    if (!isStreamEntry(b.u8(s)) || b.u8(s + 2) != 0 || b.le16(s + 6) != 0 || b.le32(s + 16) != 0) return 0;
    if (b.u8(s + 1) != 1 && b.u8(s + 1) != 3) return 0;
    const size_t nameLength = b.u8(s + 3);
    const size_t pieces = (nameLength + 14) / 15;
    if (pieces == 0) return 0;
    for (size_t p = 0; p < pieces; ++p) {
        const size_t at = kEntryBytes * (2 + p);
        if (!b.fits(at, kEntryBytes) || !isNameEntry(b.u8(at)) || b.u8(at + 1) > 3) return 0;
    }
    return 2 + pieces;
}

bool readSet(std::span<const uint8_t> bytes, size_t at, ExFatDirRecord& r) {
    platform::ByteReader e = entryAt(bytes, at);
    if (!isFileEntry(e.u8(0))) return false;
    readFileEntry(e, r);
    at += kEntryBytes;
    if (e = entryAt(bytes, at); isStreamEntry(e.u8(0))) {
        readStreamEntry(e, r);
        at += kEntryBytes;
    }
    std::u16string name;
    for (int p = 0; p < kMaxNamePieces; ++p, at += kEntryBytes) {
        e = entryAt(bytes, at);
        if (!isNameEntry(e.u8(0))) break;
        appendNamePiece(e, name);
    }
    r.name = platform::utf16ToUtf8(name);
    return true;
}

}  // namespace quenlow::fs::exfat
