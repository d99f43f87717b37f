#include "raw/SignatureRecord.h"

#include <algorithm>

#include "platform/ByteReader.h"

namespace quenlow::raw {

namespace {

std::u16string readUnits(const platform::ByteReader& r, size_t at, size_t units) {
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        char16_t u = static_cast<char16_t>(r.le16(at + 2 * i));
        if (u == 0) break;
        text.push_back(u);
    }
    return text;
}

void putLe(std::array<uint8_t, kRecordBytes>& out, size_t at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void putUnits(std::array<uint8_t, kRecordBytes>& out, size_t at, const std::u16string& text, size_t units) {
    for (size_t i = 0; i < std::min(units, text.size()); ++i) putLe(out, at + 2 * i, text[i], 2);
}

}  // namespace

SignatureRecord SignatureRecord::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes.first(std::min(bytes.size(), kRecordBytes)));
    SignatureRecord rec;
    rec.extension = readUnits(r, kExtension, kMaxExtensionUnits);
    rec.extensionLength = r.u8(kExtensionLength);
    for (size_t i = 0; i < kMaxSignatureBytes; ++i) {
        rec.start[i] = r.u8(kStart + i);
        rec.end[i] = r.u8(kEnd + i);
    }
    rec.startLength = r.u8(kStartLength);
    rec.endLength = r.u8(kEndLength);
    rec.recordNumber = r.u8(kRecordNumber);
    rec.sizeOffset = static_cast<int32_t>(r.le32(kSizeOffset));
    rec.sizeBytes = static_cast<int32_t>(r.le32(kSizeBytes));
    rec.headerSize = static_cast<int32_t>(r.le32(kHeaderSize));
    rec.sizeIncludesHeader = r.u8(kSizeIncludesHeader);
    rec.approximateSize = static_cast<int64_t>(r.le64(kApproximateSize));
    rec.skipSize = static_cast<int64_t>(r.le64(kSkipSize));
    rec.category = readUnits(r, kCategory, kMaxCategoryUnits);
    return rec;
}

std::array<uint8_t, kRecordBytes> SignatureRecord::encode() const {
    std::array<uint8_t, kRecordBytes> out{};
    putUnits(out, kExtension, extension, kMaxExtensionUnits);
    out[kExtensionLength] = extensionLength;
    std::copy(start.begin(), start.end(), out.begin() + kStart);
    std::copy(end.begin(), end.end(), out.begin() + kEnd);
    out[kStartLength] = startLength;
    out[kEndLength] = endLength;
    out[kRecordNumber] = recordNumber;
    putLe(out, kSizeOffset, static_cast<uint32_t>(sizeOffset), 4);
    putLe(out, kSizeBytes, static_cast<uint32_t>(sizeBytes), 4);
    putLe(out, kHeaderSize, static_cast<uint32_t>(headerSize), 4);
    out[kSizeIncludesHeader] = sizeIncludesHeader;
    putLe(out, kApproximateSize, static_cast<uint64_t>(approximateSize), 8);
    putLe(out, kSkipSize, static_cast<uint64_t>(skipSize), 8);
    putUnits(out, kCategory, category, kMaxCategoryUnits);
    return out;
}

}  // namespace quenlow::raw
