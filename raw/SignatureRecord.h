#pragma once
// One record of a signature settings file: 171 bytes, little-endian, no header before the
// first one. `parse` and `encode` are pure and inverse for every field the record holds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quenlow::raw {

inline constexpr size_t kRecordBytes = 171;
inline constexpr size_t kMaxSignatureBytes = 10;
inline constexpr size_t kMaxExtensionUnits = 4;
inline constexpr size_t kMaxCategoryUnits = 49;

struct SignatureRecord {
    // Layout: byte offsets of the fields.
    static constexpr size_t kExtension = 0;        // 4 UTF-16 units
    static constexpr size_t kExtensionLength = 10; // characters typed (may exceed 4)
    static constexpr size_t kStart = 11;           // 10 bytes
    static constexpr size_t kEnd = 21;             // 10 bytes
    static constexpr size_t kStartLength = 31;
    static constexpr size_t kEndLength = 32;
    static constexpr size_t kRecordNumber = 33;
    static constexpr size_t kSizeOffset = 34;      // int32, -1: none
    static constexpr size_t kSizeBytes = 38;       // int32
    static constexpr size_t kHeaderSize = 42;      // int32
    static constexpr size_t kSizeIncludesHeader = 46;
    static constexpr size_t kApproximateSize = 51; // int64
    static constexpr size_t kSkipSize = 59;        // int64
    static constexpr size_t kCategory = 67;        // 50 UTF-16 units, zero-padded

    std::u16string extension;    // at most 4 units are stored
    uint8_t extensionLength = 0;
    std::array<uint8_t, kMaxSignatureBytes> start{};
    std::array<uint8_t, kMaxSignatureBytes> end{};
    uint8_t startLength = 0;
    uint8_t endLength = 0;
    uint8_t recordNumber = 0;
    int32_t sizeOffset = -1;
    int32_t sizeBytes = 0;
    int32_t headerSize = 0;
    uint8_t sizeIncludesHeader = 0;
    int64_t approximateSize = 0;
    int64_t skipSize = 0;
    std::u16string category;     // at most 49 units are stored

    // Reads the record at the start of `bytes`; missing bytes read as 0. Texts end at their
    // first zero unit.
    static SignatureRecord parse(std::span<const uint8_t> bytes);
    std::array<uint8_t, kRecordBytes> encode() const;
};

}  // namespace quenlow::raw
