#include "filesystems/ntfs/NtfsRecord.h"

#include <algorithm>
#include <cstring>

#include "platform/TextConvert.h"

namespace quenlow::fs {

NtfsRecord::NtfsRecord(const uint8_t* bytes, size_t count) { assign(bytes, count); }

void NtfsRecord::assign(const uint8_t* bytes, size_t count) {
    size_t n = std::min(count, kMftRecordSize);
    if (n > 0) std::memcpy(raw_.data(), bytes, n);
    if (n < kMftRecordSize) std::memset(raw_.data() + n, 0, kMftRecordSize - n);
    fixed_ = raw_;
    applyFixups(fixed_.data());
    walk();
}

void NtfsRecord::applyFixups(uint8_t* record) {
    uint32_t usaOffset = read16(record, 4);
    uint32_t usaCount = read16(record, 6);
    for (uint32_t k = 1; k <= 2; ++k) {
        if (!(2 * k < 2 * usaCount) || usaOffset >= kMftRecordSize) break;
        uint32_t from = usaOffset + 2 * k;
        if (from + 2 > kMftRecordSize) break;  // the stored value would lie past the record
        record[512 * k - 2] = record[from];
        record[512 * k - 1] = record[from + 1];
    }
}

void NtfsRecord::walk() {
    attributes_.clear();
    // The walk reads the fixed-up record: a header that crosses a sector end carries the
    // update sequence number in its raw bytes there, not its own.
    uint32_t offset = read16(fixed_.data(), 20);
    // Each step advances by at least one byte, so the walk ends within 1025 steps.
    while (offset <= kMftRecordSize) {
        uint8_t h[64] = {};
        if (offset < kMftRecordSize)
            std::memcpy(h, fixed_.data() + offset, std::min<size_t>(64, kMftRecordSize - offset));
        NtfsAttribute a;
        a.offset = offset;
        a.type = read32(h, 0);
        a.length = read16(h, 4);
        a.nonResident = h[8];
        a.nameLength = h[9];
        a.flags = read16(h, 12);
        a.contentLength = read32(h, 16);
        a.contentOffset = read16(h, 20);
        a.startVcn = static_cast<int64_t>(read64(h, 16));
        a.lastVcn = static_cast<int64_t>(read64(h, 24));
        a.runListOffset = read16(h, 32);
        a.compressionUnit = h[34];
        a.allocatedSize = static_cast<int64_t>(read64(h, 40));
        a.dataSize = static_cast<int64_t>(read64(h, 48));
        attributes_.push_back(a);
        if (a.type == kAttrEnd || a.length == 0) break;
        offset += a.length;
    }
}

bool NtfsRecord::residentContent(const NtfsAttribute& a, uint32_t& start, uint32_t& length) const {
    if (a.nonResident != 0) return false;
    uint64_t s = static_cast<uint64_t>(a.offset) + a.contentOffset;
    if (s >= kMftRecordSize) return false;
    start = static_cast<uint32_t>(s);
    length = static_cast<uint32_t>(std::min<uint64_t>(a.contentLength, kMftRecordSize - s));
    return true;
}

bool NtfsRecord::fileName(const NtfsAttribute& a, NtfsFileName& out) const {
    if (a.nonResident != 0 || a.contentOffset >= kMftRecordSize) return false;
    uint64_t s = static_cast<uint64_t>(a.offset) + a.contentOffset;
    if (s + 0x42 > kMftRecordSize) return false;
    const uint8_t* c = fixed_.data() + s;
    uint64_t parent = read64(c, 0) & 0x0000FFFFFFFFFFFFULL;
    if (parent & 0x0000800000000000ULL) parent |= 0xFFFF000000000000ULL;
    out.parentRef = static_cast<int64_t>(parent);
    out.allocatedSize = static_cast<int64_t>(read64(c, 0x28));
    out.fileAttributes = read32(c, 0x38);
    out.directory = (out.fileAttributes & 0x10000000) != 0;
    out.nameSpace = c[0x41];
    uint32_t units = c[0x40];
    out.nameUsable = s + 0x42 + 2ULL * units <= kMftRecordSize;
    out.name = out.nameUsable ? platform::utf16leToUtf8(c + 0x42, 2 * units) : std::string();
    return true;
}

bool NtfsRecord::standardTimes(uint64_t& created, uint64_t& modified, uint64_t& accessed) const {
    bool found = false;
    for (const NtfsAttribute& a : attributes_) {
        if (a.type != kAttrStandardInformation) continue;
        uint32_t start = 0, length = 0;
        if (!residentContent(a, start, length) || start + 32 > kMftRecordSize) continue;
        const uint8_t* c = fixed_.data() + start;
        created = read64(c, 0);
        modified = read64(c, 8);
        accessed = read64(c, 24);
        found = true;
    }
    return found;
}

bool NtfsRecord::firstNonResident(uint32_t type, NtfsAttribute& out) const {
    for (const NtfsAttribute& a : attributes_) {
        if (a.type == type && a.nonResident != 0) {
            out = a;
            return true;
        }
    }
    return false;
}

std::vector<NtfsRun> NtfsRecord::runsOf(const NtfsAttribute& a) const {
    uint64_t start = static_cast<uint64_t>(a.offset) + a.runListOffset;
    uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(a.offset) + a.length, kMftRecordSize);
    if (start >= end) return {};
    int64_t count = 0;
    if (!__builtin_sub_overflow(a.lastVcn, a.startVcn, &count) && count < INT64_MAX) ++count;
    else count = 0;
    return decodeRunList(fixed_.data() + start, static_cast<size_t>(end - start), count);
}

std::vector<NtfsRun> NtfsRecord::decodeRunList(const uint8_t* bytes, size_t count,
                                               int64_t clusterCount) {
    std::vector<NtfsRun> runs;
    if (clusterCount <= 0) return runs;
    uint64_t limit = static_cast<uint64_t>(clusterCount);
    uint64_t previous = 0, seen = 0;
    size_t i = 0;
    while (i < count) {
        uint8_t h = bytes[i];
        size_t lengthSize = h & 0x0F, offsetSize = h >> 4;
        if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8) break;
        if (count - i - 1 < lengthSize + offsetSize) break;  // the run is cut off
        const uint8_t* p = bytes + i + 1;
        uint64_t length = 0;
        for (size_t b = 0; b < lengthSize; ++b) length |= static_cast<uint64_t>(p[b]) << (8 * b);
        uint64_t offset = 0;
        for (size_t b = 0; b < offsetSize; ++b)
            offset |= static_cast<uint64_t>(p[lengthSize + b]) << (8 * b);
        if (offsetSize > 0 && offsetSize < 8 && (p[lengthSize + offsetSize - 1] & 0x80))
            offset |= ~0ULL << (8 * offsetSize);  // sign-extend
        i += 1 + lengthSize + offsetSize;
        NtfsRun run;
        run.length = length;
        if (offsetSize > 0) {
            previous += offset;  // wraps like two's complement
            run.cluster = static_cast<int64_t>(previous);
        } else {
            run.sparse = true;
        }
        if (length > limit - std::min(seen, limit)) break;  // beyond the attribute's VCN range
        seen += length;
        runs.push_back(run);
    }
    return runs;
}

std::vector<NtfsListEntry> NtfsRecord::listEntries(const uint8_t* bytes, size_t count) {
    std::vector<NtfsListEntry> entries;
    size_t off = 0;
    while (count >= 26 && off <= count - 26) {
        uint32_t type = read32(bytes, off);
        if (type == kAttrEnd || type == 0) break;
        uint32_t length = read16(bytes, off + 4);
        if (length < 26) break;
        NtfsListEntry e;
        e.type = type;
        e.nameLength = bytes[off + 6];
        e.startVcn = static_cast<int64_t>(read64(bytes, off + 8));
        e.recordNumber = read64(bytes, off + 16) & 0x0000FFFFFFFFFFFFULL;
        entries.push_back(e);
        off += length;
    }
    return entries;
}

NtfsDataSummary NtfsRecord::dataSummary() const {
    NtfsDataSummary d;
    for (const NtfsAttribute& a : attributes_) {
        if (a.type != kAttrData) continue;
        d.present = true;
        if (a.nameLength != 0) continue;
        d.flags = a.flags;
        d.attributeOffset = a.offset;
        if (a.nonResident == 0) {
            uint32_t start = 0, length = 0;
            d.residency = 'R';
            if (residentContent(a, start, length)) {
                d.contentOffset = start;
                d.contentLength = length;
            } else {
                d.contentOffset = 0;
                d.contentLength = 0;
            }
            continue;
        }
        d.residency = 'N';
        d.contentOffset = a.runListOffset;
        d.contentLength = a.length > a.runListOffset ? a.length - a.runListOffset : 0;
        d.startVcn = a.startVcn;
        d.lastVcn = a.lastVcn;
        d.compressionUnit = a.compressionUnit;
        d.allocatedSize = a.allocatedSize;
        d.dataSize = a.dataSize;
        break;
    }
    return d;
}

bool NtfsRecord::dataInExtensions() const {
    bool list = false;
    for (const NtfsAttribute& a : attributes_)
        if (a.type == kAttrAttributeList || a.type == kAttrData) list = a.type == kAttrAttributeList;
    return list;
}

}  // namespace quenlow::fs
