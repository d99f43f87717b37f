#pragma once
// One 1024-byte MFT record held in memory: the header, the attribute walk, the update
// sequence fixups, and the readers of the attribute contents the parser uses. Everything
// here works on bytes only and checks every offset against the record's end; bytes beyond
// the record read as zero.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteReader.h"

namespace quenlow::fs {

inline constexpr size_t kMftRecordSize = 1024;
inline constexpr uint32_t kFileSignature = 0x454C4946;  // "FILE" little-endian

inline constexpr uint32_t kAttrStandardInformation = 0x10;
inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// A run of clusters: the starting logical cluster (0 and `sparse` for a hole) and the length.
struct NtfsRun {
    int64_t cluster = 0;
    uint64_t length = 0;
    bool sparse = false;
};

// The header fields of one attribute, taken from the first 64 bytes at its offset.
struct NtfsAttribute {
    uint32_t offset = 0;       // start of the attribute in the record
    uint32_t type = 0;
    uint32_t length = 0;       // the low 16 bits of the length field
    uint8_t nonResident = 0;
    uint8_t nameLength = 0;
    uint16_t flags = 0;
    // resident
    uint32_t contentLength = 0;
    uint16_t contentOffset = 0;
    // non-resident
    int64_t startVcn = 0;
    int64_t lastVcn = 0;
    uint16_t runListOffset = 0;
    uint8_t compressionUnit = 0;
    int64_t allocatedSize = 0;
    int64_t dataSize = 0;
};

// What one FILE_NAME attribute holds.
struct NtfsFileName {
    int64_t parentRef = 0;       // low 48 bits, sign-extended from bit 47
    int64_t allocatedSize = 0;
    uint32_t fileAttributes = 0;
    bool directory = false;      // file attribute bit 0x10000000
    uint8_t nameSpace = 0;       // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    bool nameUsable = false;     // false when the name would run past the record
    std::string name;            // UTF-8
};

// The unnamed data attribute of one record.
struct NtfsDataSummary {
    bool present = false;        // the record has an attribute of type 0x80 (any name)
    char residency = 0;          // 'N' or 'R' (0 when there is no unnamed one)
    uint32_t contentOffset = 0;  // resident: offset in the record; non-resident: run list offset
    uint32_t contentLength = 0;
    uint32_t attributeOffset = 0;
    int64_t startVcn = 0;
    int64_t lastVcn = 0;
    uint8_t compressionUnit = 0;
    int64_t allocatedSize = 0;
    int64_t dataSize = 0;
    uint16_t flags = 0;
    bool compressed() const {
        return residency == 'N' && (flags & 0x00FF) != 0 && (flags & 0x4000) == 0;
    }
    bool encrypted() const { return (flags & 0x4000) != 0; }
};

// One entry of an attribute list.
struct NtfsListEntry {
    uint32_t type = 0;
    uint8_t nameLength = 0;
    int64_t startVcn = 0;
    uint64_t recordNumber = 0;   // 48-bit record number
};

class NtfsRecord {
public:
    NtfsRecord() = default;
    // Takes `count` bytes (at most 1024 are used; missing ones are zero).
    NtfsRecord(const uint8_t* bytes, size_t count);
    void assign(const uint8_t* bytes, size_t count);

    const uint8_t* raw() const { return raw_.data(); }
    // The record after the update sequence fixups of its two sectors.
    const uint8_t* fixed() const { return fixed_.data(); }

    uint32_t signature() const { return read32(raw_.data(), 0); }
    bool isFile() const { return signature() == kFileSignature; }
    uint16_t headerFlags() const { return read16(raw_.data(), 22); }
    bool inUse() const { return (headerFlags() & 1) != 0; }
    // The record number of the base record for an extension record, 0 for a base record.
    uint64_t baseRecord() const { return read64(raw_.data(), 32) & 0x0000FFFFFFFFFFFFULL; }
    uint16_t baseSequence() const { return read16(raw_.data(), 38); }
    uint16_t sequence() const { return read16(raw_.data(), 16); }
    // The record's own number as its header keeps it (NTFS 3.1 records).
    uint32_t recordNumber() const { return read32(raw_.data(), 44); }

    // The attributes in record order, the terminating one included, read from the fixed-up
    // record. The walk starts at the
    // header's first attribute offset, continues while the offset is within the record and
    // ends after an attribute of type 0xFFFFFFFF or of length 0.
    const std::vector<NtfsAttribute>& attributes() const { return attributes_; }

    // Content of a resident attribute in the fixed-up record; false when it lies outside.
    bool residentContent(const NtfsAttribute& a, uint32_t& start, uint32_t& length) const;

    // Reads one FILE_NAME attribute; false when the attribute is not resident or its fixed
    // part does not lie inside the record.
    bool fileName(const NtfsAttribute& a, NtfsFileName& out) const;
    // STANDARD_INFORMATION times; false when the record has none that fits.
    bool standardTimes(uint64_t& created, uint64_t& modified, uint64_t& accessed) const;
    // The first non-resident attribute of `type`, its run list decoded.
    bool firstNonResident(uint32_t type, NtfsAttribute& out) const;
    std::vector<NtfsRun> runsOf(const NtfsAttribute& a) const;
    NtfsDataSummary dataSummary() const;
    // Whether the last attribute of types 0x20 and 0x80 is the attribute list.
    bool dataInExtensions() const;

    // Decodes a run list of `count` bytes. Runs are kept while the clusters seen stay
    // within `clusterCount`. At most one run per two bytes of input.
    static std::vector<NtfsRun> decodeRunList(const uint8_t* bytes, size_t count,
                                              int64_t clusterCount);
    // Walks attribute list entries in `count` bytes.
    static std::vector<NtfsListEntry> listEntries(const uint8_t* bytes, size_t count);
    // Applies the two fixups of a 1024-byte record in place.
    static void applyFixups(uint8_t* record);

    // Little-endian fields at `at`; the caller has checked that they lie inside `p`.
    static uint16_t read16(const uint8_t* p, size_t at) { return platform::ByteReader(p + at, 2).le16(0); }
    static uint32_t read32(const uint8_t* p, size_t at) { return platform::ByteReader(p + at, 4).le32(0); }
    static uint64_t read64(const uint8_t* p, size_t at) { return platform::ByteReader(p + at, 8).le64(0); }

private:
    void walk();

    std::array<uint8_t, kMftRecordSize> raw_{};
    std::array<uint8_t, kMftRecordSize> fixed_{};
    std::vector<NtfsAttribute> attributes_;
};

}  // namespace quenlow::fs
