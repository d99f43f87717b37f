#include "filesystems/ntfs/NtfsMftReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "volumes/NtfsBootSector.h"

namespace quenlow::fs {

namespace {

constexpr int64_t kScanChunk = 10485760;  // the boot-less scan reads 10 MiB at a time
constexpr int64_t kSlotBatch = 4096;      // MFT slots read per request (4 MiB)
constexpr int64_t kStatusEvery = 4096;    // entries between status updates

int64_t saturatingMul(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
    return r;
}

}  // namespace

NtfsMftReader::NtfsMftReader(disk::VolumeView view, int64_t recordSizeBytes, NtfsTable& table, NtfsLinker& linker)
    : view_(view), recordSizeBytes_(recordSizeBytes), table_(table), linker_(linker) {}

void NtfsMftReader::status(const char* format, long long value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    feedback_->status(text);
}

bool NtfsMftReader::loadRecord(int64_t position, NtfsRecord& record) const {
    if (position < 0 || position > INT64_MAX - static_cast<int64_t>(kMftRecordSize) ||
        position > INT64_MAX - view_.start()) {
        record.assign(nullptr, 0);
        return false;
    }
    uint8_t bytes[kMftRecordSize];
    view_.readQuiet(position, bytes, kMftRecordSize);
    record.assign(bytes, kMftRecordSize);
    return true;
}

bool NtfsMftReader::readBootSector() {
    uint8_t bytes[volumes::NtfsBootSector::kSize];
    view_.readQuiet(0, bytes, sizeof bytes);
    const volumes::NtfsBootSector boot = volumes::NtfsBootSector::parse(bytes);
    bootRead_ = true;
    bootIsNtfs_ = boot.ntfsOemName;
    bytesPerSector_ = boot.bytesPerSector;
    sectorsPerCluster_ = boot.sectorsPerClusterRaw;
    clusterBytes_ = static_cast<int64_t>(std::min<uint64_t>(boot.clusterBytes(), INT64_MAX));
    mftStartCluster_ = static_cast<int64_t>(boot.mftCluster);
    mftMirrorCluster_ = static_cast<int64_t>(boot.mftMirrorCluster);
    if (bootIsNtfs_) {
        uint64_t total = boot.totalSectors;
        volumeSize_ = total > static_cast<uint64_t>(INT64_MAX / 512) ? INT64_MAX : static_cast<int64_t>(total * 512);
    } else {
        volumeSize_ = recordSizeBytes_;
    }
    return volumeSize_ != 0;
}

bool NtfsMftReader::locateMft() {
    clusterSize_ = bootRead_ ? clusterBytes_ : 4096;
    if (bootIsNtfs_) {
        mftLocated_ = true;
        int64_t position = saturatingMul(mftStartCluster_, clusterSize_);
        if (position < 0 || position > INT64_MAX - view_.start()) {
            mftRuns_.clear();
            return mftLocated_;
        }
        feedback_->status("boot sector is fine.Getting run of mft entry...");
        mftRuns_ = decodeRuns(position, kAttrData);
        if (mftRuns_.empty()) {
            // The table's own record is damaged: its copy in $MFTMirr gives the runs.
            int64_t mirror = saturatingMul(mftMirrorCluster_, clusterSize_);
            if (mirror > 0 && mirror <= INT64_MAX - view_.start()) {
                mftRuns_ = decodeRuns(mirror, kAttrData);
                usedMirror_ = !mftRuns_.empty();
            }
        }
        feedback_->status("Got run...");
        runsNeeded_ = false;
        return mftLocated_;
    }

    clusterSize_ = 4096;
    feedback_->status("boot sector corrupt.Scanning for first mft entry...");
    mftLocated_ = false;
    int64_t end = volumeSize_;
    if (view_.sourceLength() >= 0) end = std::min<int64_t>(end, view_.sourceLength());
    feedback_->progressRange(0, volumeSize_ / kScanChunk);
    std::vector<uint8_t> chunk(static_cast<size_t>(kScanChunk));
    for (int64_t n = 0; n * kScanChunk < end; ++n) {
        if (poll()) break;
        if (n % 100 == 0) feedback_->progressPosition(n);
        int64_t start = n * kScanChunk;
        view_.readQuiet(start, chunk.data(), chunk.size());
        int64_t off = 0;
        while (off + 4 <= kScanChunk && start + off < end) {
            if (NtfsRecord::read32(chunk.data(), static_cast<size_t>(off)) != kFileSignature) {
                off += 512;
                continue;
            }
            NtfsEntry provisional;
            provisional.signature = kFileSignature;
            provisional.recordPosition = start + off;
            provisional.selfIndex = table_.size();
            table_.entries.push_back(provisional);
            int64_t index = provisional.selfIndex;
            NtfsRecord record;
            if (off + static_cast<int64_t>(kMftRecordSize) <= kScanChunk)
                record.assign(chunk.data() + off, kMftRecordSize);
            else
                loadRecord(start + off, record);
            applyRecord(index, record, true);
            if (table_.nameView(index).substr(0, 3) == "$MF") {
                feedback_->status("found mft entry.getting its run ...");
                mftRuns_ = decodeRuns(start + off, kAttrData);
                feedback_->status("got run ...");
                if (!mftRuns_.empty()) {
                    mftLocated_ = true;
                    runsNeeded_ = false;
                    table_.clear();
                    extensions_.clear();
                    return true;
                }
            }
            off += kMftRecordSize;
        }
    }
    return mftLocated_;
}

std::vector<NtfsRun> NtfsMftReader::decodeRuns(int64_t position, uint32_t type) {
    NtfsRecord record;
    if (!loadRecord(position, record)) return {};
    NtfsAttribute a;
    if (!record.firstNonResident(type, a)) return {};
    int64_t count = 0;
    if (__builtin_sub_overflow(a.lastVcn, a.startVcn, &count) || count == INT64_MAX) count = 0;
    else ++count;
    clusterCount_ = count;
    return record.runsOf(a);
}

void NtfsMftReader::enumerateMft() {
    if (!mftLocated_ || stopRequested()) return;
    if (runsNeeded_ && !table_.entries.empty()) {
        feedback_->status("getting run of mft...");
        mftRuns_ = decodeRuns(table_.entries[0].recordPosition, kAttrData);
        feedback_->status("got run...");
    } else {
        table_.clear();
        extensions_.clear();
    }
    if (clusterSize_ <= 0) clusterSize_ = 4096;
    const int64_t cs = clusterSize_;
    recordsPerCluster_ = cs >= 1024 ? cs / 1024 : 1;
    const int64_t step = cs >= 1024 ? 1 : 2;

    // A table cannot hold more slots than the volume (or the source) has room for.
    int64_t room = std::max<int64_t>(volumeSize_, view_.sourceLength());
    int64_t maxSlots = std::max<int64_t>(room / static_cast<int64_t>(kMftRecordSize), 1024) + table_.size();
    uint64_t expected = 0;
    for (const NtfsRun& run : mftRuns_) {
        uint64_t clusters = run.length / static_cast<uint64_t>(step) + 1;
        expected = std::min<uint64_t>(expected + std::min<uint64_t>(clusters, 1u << 24), 1u << 24);
    }
    // Reserve for what the run list promises, within reason; the table grows beyond that.
    table_.entries.reserve(table_.entries.size() +
                           static_cast<size_t>(std::min<uint64_t>(expected * static_cast<uint64_t>(recordsPerCluster_),
                                                                  std::min<int64_t>(maxSlots, 1 << 22))));

    int64_t pendingStart = 0, pendingSlots = 0;
    auto flush = [&] {
        if (pendingSlots > 0) flushSlots(pendingStart, pendingSlots);
        pendingSlots = 0;
    };
    for (const NtfsRun& run : mftRuns_) {
        status("parsing %lld cluster of MFT run.", static_cast<long long>(run.cluster));
        if (poll()) break;
        for (uint64_t k = 0; k < run.length; k += static_cast<uint64_t>(step)) {
            if (table_.size() + pendingSlots >= maxSlots) break;
            int64_t cluster;
            if (__builtin_add_overflow(run.cluster, static_cast<int64_t>(k), &cluster)) break;
            int64_t position;
            if (__builtin_mul_overflow(cluster, cs, &position)) continue;
            if (position < 0 || position > INT64_MAX - view_.start()) continue;  // cannot be sought: passed over
            int64_t slots = std::min<int64_t>(recordsPerCluster_, maxSlots - table_.size() - pendingSlots);
            if (pendingSlots > 0 && position == pendingStart + pendingSlots * static_cast<int64_t>(kMftRecordSize) &&
                pendingSlots + slots <= kSlotBatch) {
                pendingSlots += slots;
            } else {
                flush();
                if (stopRequested()) return;
                pendingStart = position;
                pendingSlots = slots;
            }
        }
    }
    flush();
}

void NtfsMftReader::flushSlots(int64_t start, int64_t slots) {
    size_t bytes = static_cast<size_t>(slots) * kMftRecordSize;
    if (slotBuffer_.size() < bytes) slotBuffer_.resize(bytes);
    view_.readQuiet(start, slotBuffer_.data(), bytes);
    NtfsRecord record;
    for (int64_t s = 0; s < slots; ++s) {
        const uint8_t* slot = slotBuffer_.data() + static_cast<size_t>(s) * kMftRecordSize;
        NtfsEntry e;
        e.signature = NtfsRecord::read32(slot, 0);
        e.recordPosition = start + s * static_cast<int64_t>(kMftRecordSize);
        e.selfIndex = table_.size();
        table_.entries.push_back(e);
        record.assign(slot, kMftRecordSize);
        applyRecord(e.selfIndex, record, false);
        NtfsEntry& added = table_.entries.back();
        added.readAhead = 1;
        uint64_t base = record.baseRecord();
        if (base != 0 && added.hasName && base < (1ULL << 62)) extensions_.emplace_back(e.selfIndex, static_cast<int64_t>(base));
    }
}

void NtfsMftReader::parseRecord(int64_t position, int64_t index) {
    if (!table_.contains(index)) return;
    NtfsRecord record;
    if (!loadRecord(position, record)) return;
    applyRecord(index, record, true);
}

void NtfsMftReader::keepDetails(int64_t index, const NtfsRecord& record) {
    NtfsEntry& e = table_.at(index);
    uint64_t created = 0, modified = 0, accessed = 0;
    e.hasTimes = record.standardTimes(created, modified, accessed) ? 1 : 0;
    e.created = created;
    e.modified = modified;
    e.accessed = accessed;
    e.hasAttributes = 0;
    bool hasList = false;
    for (const NtfsAttribute& a : record.attributes()) {
        if (a.type == kAttrAttributeList) hasList = true;
        if (a.type != kAttrFileName || a.nonResident != 0) continue;
        NtfsFileName fn;
        if (!record.fileName(a, fn)) continue;
        e.fileAttributes = fn.fileAttributes;
        e.hasAttributes = 1;
    }
    // With an attribute list the data may lie in other records: its size is worked out
    // when asked for.
    e.sizeKnown = hasList ? 0 : 1;
    e.dataSize = 0;
    if (!hasList && record.isFile()) {
        NtfsDataSummary d = record.dataSummary();
        if (d.residency == 'R') e.dataSize = d.contentLength;
        else if (d.residency == 'N') e.dataSize = d.dataSize;
    }
}

void NtfsMftReader::applyRecord(int64_t index, const NtfsRecord& record, bool link) {
    keepDetails(index, record);
    bool first = true;
    bool longName = false;  // the name taken so far is not a DOS alias
    const std::string* lastName = nullptr;
    NtfsFileName names[2];
    int slot = 0;
    for (const NtfsAttribute& a : record.attributes()) {
        if (a.type != kAttrFileName || a.nonResident != 0) continue;
        NtfsFileName& fn = names[slot];
        if (!record.fileName(a, fn)) continue;
        NtfsEntry& e = table_.at(index);
        if (fn.directory) e.kind = NtfsKind::Folder;
        // A name that would run past the record is not taken (the attribute is passed over,
        // as if it were absent).
        if (!fn.nameUsable) continue;
        e.hasName = 1;
        // The last FILE_NAME names the entry, except that a DOS alias never replaces a long
        // name (with the alias last, a 255-character name would be hidden behind it).
        bool alias = fn.nameSpace == 2;
        if (!(alias && longName)) {
            lastName = &fn.name;
            slot ^= 1;
            longName = !alias;
        }
        e.recordFlags = record.headerFlags();
        e.size = fn.allocatedSize;
        if (first) {
            e.parentRef = fn.parentRef;
            first = false;
        }
        if (link) {
            table_.storeName(index, *lastName);
            linker_.link(index);
        } else if (e.pendingLinks < 255) {
            ++e.pendingLinks;
        }
    }
    if (lastName != nullptr && !link) table_.storeName(index, *lastName);
}

void NtfsMftReader::moveExtensionNames() {
    // An extension record's FILE_NAMEs belong to its base record: the base is the file
    // (it holds the standard information and the start of the data), the extension is not.
    const int64_t n = table_.size();
    for (const auto& [i, b] : extensions_) {
        if (i < 0 || i >= n || b <= 0 || b >= n || b == i) continue;
        NtfsEntry& ext = table_.at(i);
        NtfsEntry& base = table_.at(b);
        if (!ext.readAhead || !base.readAhead || !ext.hasName) continue;
        NtfsRecord extension, record;
        loadRecord(ext.recordPosition, extension);
        loadRecord(base.recordPosition, record);
        // A stale extension (its base slot reused since) stays an entry of its own.
        if (!record.isFile() || record.sequence() != extension.baseSequence()) continue;
        if (!base.hasName && base.pendingLinks == 0) {
            base.hasName = 1;
            base.nameOffset = ext.nameOffset;
            base.nameLength = ext.nameLength;
            base.kind = ext.kind;
            base.parentRef = ext.parentRef;
            base.size = ext.size;
            base.recordFlags = record.headerFlags();
            base.pendingLinks = ext.pendingLinks;
        }
        ext.clearFileNames();
    }
    std::vector<std::pair<int64_t, int64_t>>().swap(extensions_);
}

void NtfsMftReader::forgetReadAhead(int64_t from) {
    // Entries the parse did not reach keep only what the MFT walk itself gives them.
    for (size_t j = static_cast<size_t>(std::max<int64_t>(from, 0)); j < table_.entries.size(); ++j) {
        NtfsEntry& r = table_.entries[j];
        if (!r.readAhead) continue;
        r.clearFileNames();
        r.readAhead = 0;
    }
}

void NtfsMftReader::linkEntries() {
    if (mftLocated_ && stopRequested()) forgetReadAhead(0);
    if (!mftLocated_ || stopRequested()) return;
    const int64_t n = table_.size();
    feedback_->progressRange(0, n);
    linker_.beginParse();
    moveExtensionNames();
    for (int64_t i = 0; i < n; ++i) {
        if (i % kStatusEvery == 0 || i == n - 1) {
            status("parsing MFT entry %lld...", static_cast<long long>(i));
            feedback_->progressPosition(i);
        }
        NtfsEntry& e = table_.at(i);
        if (poll()) {
            forgetReadAhead(i);
            break;
        }
        if (e.readAhead) {
            int links = e.pendingLinks;
            e.pendingLinks = 0;
            for (int k = 0; k < links; ++k) linker_.link(i);
        } else {
            parseRecord(e.recordPosition, i);
        }
    }
    linker_.endParse();
}

}  // namespace quenlow::fs
