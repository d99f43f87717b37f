#include "filesystems/ntfs/NtfsDataReader.h"

#include <algorithm>

#include "filesystems/ntfs/NtfsCompressedStream.h"

namespace quenlow::fs {

namespace {

constexpr size_t kMaxListBytes = 4u << 20;  // largest attribute list read

void fromSummary(const NtfsRecord& r, const NtfsDataSummary& d, NtfsDataLayout& out) {
    out.hasData = d.residency != 0;
    out.residency = d.residency == 'R' ? NtfsResidency::Resident
                    : d.residency == 'N' ? NtfsResidency::NonResident
                                         : NtfsResidency::None;
    if (d.residency == 'R') {
        out.resident.assign(r.fixed() + d.contentOffset, r.fixed() + d.contentOffset + d.contentLength);
    } else if (d.residency == 'N') {
        NtfsAttribute a;
        for (const NtfsAttribute& x : r.attributes())
            if (x.offset == d.attributeOffset) a = x;
        out.runs = r.runsOf(a);
        int64_t count = 0;
        if (__builtin_sub_overflow(d.lastVcn, d.startVcn, &count) || count == INT64_MAX) count = 0;
        else ++count;
        out.clusterCount = count;
        out.dataSize = d.dataSize;
        out.compressionUnit = d.compressionUnit;
        out.compressed = d.compressed();
    }
}

}  // namespace

bool NtfsDataReader::readAttributeList(const NtfsRecord& record, std::vector<uint8_t>& bytes) const {
    for (const NtfsAttribute& a : record.attributes()) {
        if (a.type != kAttrAttributeList) continue;
        if (a.nonResident == 0) {
            uint32_t start = 0, length = 0;
            if (!record.residentContent(a, start, length)) return false;
            bytes.assign(record.fixed() + start, record.fixed() + start + length);
            return true;
        }
        std::vector<NtfsRun> runs = record.runsOf(a);
        int64_t cs = mft_.clusterSize() > 0 ? mft_.clusterSize() : 4096;
        uint64_t want = a.dataSize > 0 ? static_cast<uint64_t>(a.dataSize) : 0;
        want = std::min<uint64_t>(want, kMaxListBytes);
        bytes.assign(static_cast<size_t>(want), 0);
        uint64_t at = 0;
        for (const NtfsRun& run : runs) {
            if (at >= want) break;
            uint64_t room = want - at;
            uint64_t runBytes = run.length > room / static_cast<uint64_t>(cs) + 1
                                    ? room
                                    : std::min<uint64_t>(room, run.length * static_cast<uint64_t>(cs));
            if (!run.sparse) {
                int64_t position;
                if (!__builtin_mul_overflow(run.cluster, cs, &position))
                    mft_.view().readQuiet(position, bytes.data() + at, static_cast<size_t>(runBytes));
            }
            at += runBytes;
        }
        return true;
    }
    return false;
}

bool NtfsDataReader::loadExtension(int64_t index, const NtfsRecord& base, uint64_t number, NtfsRecord& out) const {
    if (!mft_.deepTable()) {
        if (number >= table_.entries.size()) return false;  // outside the table
        mft_.loadRecord(table_.entries[static_cast<size_t>(number)].recordPosition, out);
        return out.isFile();
    }
    // A table gathered by the deep scan is not in MFT order: the extension is taken from
    // where the base's own number puts it, when it names that base.
    return mft_.loadNeighbour(table_.at(index).recordPosition, base.recordNumber(), number, out) &&
           out.baseRecord() == base.recordNumber();
}

bool NtfsDataReader::load(int64_t index, NtfsRecord& record, NtfsDataLayout& layout) const {
    const NtfsEntry& e = table_.at(index);
    mft_.loadRecord(e.recordPosition, record);
    if (!record.isFile()) return false;

    std::vector<uint8_t> list;
    bool hasList = false;
    for (const NtfsAttribute& a : record.attributes())
        if (a.type == kAttrAttributeList) hasList = true;
    if (hasList && readAttributeList(record, list)) {
        std::vector<NtfsListEntry> extents;
        bool elsewhere = false;
        const uint64_t self = mft_.deepTable() ? record.recordNumber() : static_cast<uint64_t>(index);
        for (const NtfsListEntry& le : NtfsRecord::listEntries(list.data(), list.size())) {
            if (le.type != kAttrData || le.nameLength != 0) continue;
            extents.push_back(le);
            if (le.recordNumber != self) elsewhere = true;
        }
        if (elsewhere) {
            // The data's pieces are spread over several records: join them in VCN order.
            std::stable_sort(extents.begin(), extents.end(),
                             [](const NtfsListEntry& a, const NtfsListEntry& b) { return a.startVcn < b.startVcn; });
            layout.fromExtensions = true;
            int64_t covered = 0;
            bool firstExtent = true;
            NtfsRecord other;
            for (const NtfsListEntry& le : extents) {
                if (le.startVcn < covered) continue;  // repeated or overlapping
                const NtfsRecord* r = &record;
                if (le.recordNumber != self) {
                    if (!loadExtension(index, record, le.recordNumber, other)) continue;
                    r = &other;
                }
                for (const NtfsAttribute& a : r->attributes()) {
                    if (a.type != kAttrData || a.nameLength != 0) continue;
                    if (a.nonResident == 0) {
                        if (firstExtent && le.startVcn == 0) {
                            NtfsDataLayout resident;
                            fromSummary(*r, r->dataSummary(), resident);
                            if (resident.residency == NtfsResidency::Resident) {
                                layout = resident;
                                return true;
                            }
                        }
                        continue;
                    }
                    if (a.startVcn != le.startVcn) continue;
                    if (a.startVcn > covered) {  // a gap between pieces reads as a hole
                        NtfsRun hole;
                        hole.sparse = true;
                        hole.length = static_cast<uint64_t>(a.startVcn - covered);
                        layout.runs.push_back(hole);
                        layout.clusterCount += a.startVcn - covered;
                    }
                    for (const NtfsRun& run : r->runsOf(a)) {
                        layout.runs.push_back(run);
                        layout.clusterCount = static_cast<int64_t>(std::min<uint64_t>(
                            static_cast<uint64_t>(INT64_MAX), static_cast<uint64_t>(layout.clusterCount) + run.length));
                    }
                    covered = layout.clusterCount;
                    if (firstExtent) {
                        layout.hasData = true;
                        layout.residency = NtfsResidency::NonResident;
                        layout.dataSize = a.dataSize;
                        layout.compressionUnit = a.compressionUnit;
                        NtfsDataSummary d;
                        d.residency = 'N';
                        d.flags = a.flags;
                        layout.compressed = d.compressed();
                        firstExtent = false;
                    }
                    break;
                }
            }
            return true;
        }
    }
    fromSummary(record, record.dataSummary(), layout);
    return true;
}

std::vector<RunStream::Run> NtfsDataReader::plainRuns(const NtfsDataLayout& layout, uint64_t& size) const {
    std::vector<RunStream::Run> out;
    const uint64_t cs = static_cast<uint64_t>(mft_.clusterSize() > 0 ? mft_.clusterSize() : 4096);
    const int64_t start = mft_.view().start();
    uint64_t left = layout.dataSize > 0 ? static_cast<uint64_t>(layout.dataSize) : 0;
    size = 0;
    auto bytesOf = [&](uint64_t clusters) { return clusters > left / cs + 1 ? left : std::min(left, clusters * cs); };
    for (const NtfsRun& run : layout.runs) {
        if (left == 0) break;
        if (run.sparse) {
            uint64_t bytes = bytesOf(run.length);
            out.push_back({bytes, -1});
            left -= bytes;
            size += bytes;
            continue;
        }
        uint64_t k = 0;
        // Clusters whose position cannot be sought are passed over, neither written nor counted.
        if (run.cluster < 0) k = std::min(run.length, static_cast<uint64_t>(-(run.cluster + 1)) + 1);
        if (k >= run.length) continue;
        int64_t cluster, position;
        if (__builtin_add_overflow(run.cluster, static_cast<int64_t>(k), &cluster) ||
            __builtin_mul_overflow(cluster, static_cast<int64_t>(cs), &position) || position > INT64_MAX - start)
            break;  // nothing from here on can be addressed
        uint64_t clusters = run.length - k;
        // Only as much of the run as can be addressed.
        uint64_t room = static_cast<uint64_t>(INT64_MAX - start - position) / cs;
        bool cut = clusters > room;
        if (cut) clusters = room;
        uint64_t bytes = bytesOf(clusters);
        out.push_back({bytes, position});
        left -= bytes;
        size += bytes;
        if (cut) break;
    }
    return out;
}

std::unique_ptr<DataStream> NtfsDataReader::stream(const NtfsDataLayout& layout) const {
    if (!layout.hasData) return std::make_unique<MemoryStream>(std::vector<uint8_t>{});
    if (layout.residency == NtfsResidency::Resident) return std::make_unique<MemoryStream>(layout.resident);
    if (layout.compressed) return std::make_unique<NtfsCompressedStream>(mft_.view(), layout, mft_.clusterSize());
    uint64_t size = 0;
    std::vector<RunStream::Run> runs = plainRuns(layout, size);
    return std::make_unique<RunStream>(mft_.view(), std::move(runs), size);
}

}  // namespace quenlow::fs
