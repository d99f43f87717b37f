#include "filesystems/ntfs/NtfsMftReader.h"

#include <algorithm>
#include <cstdio>
#include <array>
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

bool NtfsMftReader::loadNeighbour(int64_t position, uint32_t from, uint64_t number, NtfsRecord& out) const {
    if (number > UINT32_MAX) return false;
    const int64_t delta = static_cast<int64_t>(number) - static_cast<int64_t>(from);
    int64_t at = 0;
    if (__builtin_mul_overflow(delta, static_cast<int64_t>(kMftRecordSize), &at) ||
        __builtin_add_overflow(at, position, &at) || at < 0 || !loadRecord(at, out))
        return false;
    return out.isFile() && out.recordNumber() == number;
}

// The backup boot sector lies in the volume's last sector: the one whose own count of the
// volume's sectors puts it there. The record gives the size only in whole MiB, so the MiB
// on either side of its end are searched.
std::optional<volumes::NtfsBootSector> NtfsMftReader::findBackupBoot() const {
    // Without a size in the record, the volume is taken to reach the end of the source.
    const int64_t source = view_.sourceLength();
    const int64_t end = recordSizeBytes_ > 0 ? recordSizeBytes_ : source;
    if (end <= 0) return std::nullopt;
    constexpr int64_t kWindow = 1 << 20;
    int64_t from = std::max<int64_t>(0, end - kWindow - 512) / 512 * 512;
    int64_t to = end > INT64_MAX - kWindow ? INT64_MAX : end + kWindow;
    if (source >= 0) to = std::min(to, source);
    if (to <= from) return std::nullopt;
    std::vector<uint8_t> window(static_cast<size_t>(to - from));
    view_.readQuiet(from, window.data(), window.size());
    for (size_t at = window.size() - window.size() % 512; at >= 512; at -= 512) {
        const std::span<const uint8_t> sector(window.data() + at - 512, 512);
        if (std::memcmp(sector.data() + volumes::NtfsBootSector::Offset::kOemName, "NTFS    ", 8) != 0) continue;
        const volumes::NtfsBootSector boot = volumes::NtfsBootSector::parse(sector);
        const uint64_t position = static_cast<uint64_t>(from) + at - 512;
        if (boot.bytesPerSector != 0 && boot.totalSectors < (uint64_t{1} << 50) &&
            boot.totalSectors * boot.bytesPerSector == position && boot.clusterBytes() != 0)
            return boot;
    }
    return std::nullopt;
}

bool NtfsMftReader::readBootSector() {
    uint8_t bytes[volumes::NtfsBootSector::kSize];
    view_.readQuiet(0, bytes, sizeof bytes);
    volumes::NtfsBootSector boot = volumes::NtfsBootSector::parse(bytes);
    usedBackupBoot_ = false;
    if (!boot.ntfsOemName) {
        if (auto backup = findBackupBoot()) {
            boot = *backup;
            usedBackupBoot_ = true;
        }
    }
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
    deepTable_ = false;
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
        NtfsEntry& added = appendUnlinked(start + s * static_cast<int64_t>(kMftRecordSize), slot, record);
        added.readAhead = 1;
        uint64_t base = record.baseRecord();
        if (base != 0 && added.hasName && base < (1ULL << 62)) extensions_.emplace_back(added.selfIndex, static_cast<int64_t>(base));
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

// ---------------------------------------------------------------------------------------
// Scans of the raw volume for records: the deep scan and the search for $MFT

bool NtfsMftReader::plausibleRecord(const uint8_t* b) {
    return NtfsRecord::read32(b, 0) == kFileSignature && NtfsRecord::read16(b, 4) < 512 &&
           NtfsRecord::read16(b, 6) < 512 && NtfsRecord::read16(b, 20) < 512;
}

void NtfsMftReader::scanVolume(int64_t end, const std::function<bool(int64_t, const uint8_t*)>& onRecord,
                               const std::function<bool()>& stopAtChunk) {
    clusterSize_ = bootRead_ && clusterBytes_ > 0 ? clusterBytes_ : 4096;
    mftLocated_ = false;
    if (view_.sourceLength() >= 0) end = std::min<int64_t>(end, view_.sourceLength());
    end = std::min<int64_t>(end, INT64_MAX - view_.start() - kScanChunk);
    const int64_t chunks = volumeSize_ / kScanChunk;
    feedback_->progressRange(0, chunks);
    // Each chunk is read in pieces (each tested while it is still in the cache), every piece
    // with the half record that follows it, so that a record across a boundary is tested
    // whole, once, where it starts; the position runs on across pieces (a record's second
    // half is never tested).
    constexpr int64_t kPiece = 1048576;
    static_assert(kScanChunk % kPiece == 0);
    constexpr size_t kTail = kMftRecordSize - 512;
    std::vector<uint8_t> piece(static_cast<size_t>(kPiece) + kTail);
    int64_t p = 0;
    bool go = true;
    for (int64_t start = 0, n = 0; go && start < end; start += kScanChunk, ++n) {
        if (poll() || stopAtChunk()) break;
        feedback_->progressPosition(n);
        for (int64_t from = start; go && from < std::min<int64_t>(start + kScanChunk, end); from += kPiece) {
            size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(piece.size()), end - from + 512));
            view_.readQuiet(from, piece.data(), want);
            if (want < piece.size()) std::memset(piece.data() + want, 0, piece.size() - want);
            const int64_t stop = std::min<int64_t>(from + kPiece, end);
            while (p < stop) {
                const uint8_t* block = piece.data() + (p - from);
                if (!plausibleRecord(block)) {
                    p += 512;
                    continue;
                }
                if (!onRecord(p, block) || stopRequested()) {
                    go = false;
                    break;
                }
                p += kMftRecordSize;
            }
        }
    }
    feedback_->progressPosition(chunks);
}

NtfsEntry& NtfsMftReader::appendUnlinked(int64_t position, const uint8_t* bytes, NtfsRecord& record) {
    NtfsEntry e;
    e.signature = NtfsRecord::read32(bytes, 0);
    e.recordPosition = position;
    e.selfIndex = table_.size();
    table_.entries.push_back(e);
    record.assign(bytes, kMftRecordSize);
    applyRecord(e.selfIndex, record, false);
    return table_.entries.back();
}

void NtfsMftReader::collectRecords() {
    table_.clear();
    extensions_.clear();
    mftRuns_.clear();
    deepTable_ = true;
    deepLimitReached_ = false;
    runsNeeded_ = true;
    // Index 0 ends every child list, so no record may sit there: an empty slot holds it.
    table_.entries.emplace_back();
    NtfsRecord record;
    scanVolume(volumeSize_, [&](int64_t p, const uint8_t* bytes) {
        if (table_.size() > maxDeepRecords) {
            deepLimitReached_ = true;
            return false;
        }
        NtfsEntry& e = appendUnlinked(p, bytes, record);
        if (!e.hasName) {
            table_.entries.pop_back();
            return true;
        }
        // Its parent reference is an MFT record number, which means nothing in this table.
        e.orphan = NtfsOrphan::Yes;
        if (record.baseRecord() != 0) adoptBase(e.selfIndex, record);
        status("MFT ENTRY %lld Found.Parsing it ..", static_cast<long long>(table_.size()));
        return true;
    }, [] { return false; });
}

void NtfsMftReader::adoptBase(int64_t index, const NtfsRecord& extension) {
    // The base holds the standard information and the start of the data; a stale extension
    // (its base slot reused since) stays an entry of its own.
    NtfsRecord base;
    NtfsEntry& e = table_.at(index);
    if (!loadNeighbour(e.recordPosition, extension.recordNumber(), extension.baseRecord(), base) ||
        base.baseRecord() != 0 || base.sequence() != extension.baseSequence())
        return;
    const uint32_t attributes = e.fileAttributes;
    const uint8_t hadAttributes = e.hasAttributes;
    e.recordPosition += (static_cast<int64_t>(extension.baseRecord()) - extension.recordNumber()) *
                        static_cast<int64_t>(kMftRecordSize);
    e.recordFlags = base.headerFlags();
    keepDetails(index, base);
    if (!e.hasAttributes) {
        e.fileAttributes = attributes;
        e.hasAttributes = hadAttributes;
    }
}

std::vector<int64_t> NtfsMftReader::searchMft(int64_t maximum) {
    std::vector<int64_t> found;
    table_.clear();
    extensions_.clear();
    volumeSize_ = recordSizeBytes_;  // the boot sector is not trusted here
    if (volumeSize_ <= 0) return found;
    // Only the names of the last eight records matter: $Boot is record 7, $MFT record 0.
    struct Recent {
        int64_t position = 0;
        std::string name;
    };
    std::array<Recent, 8> recent;
    int64_t seen = 0;
    NtfsRecord record;
    bool announced = false;
    scanVolume(volumeSize_ - static_cast<int64_t>(kMftRecordSize) + 1, [&](int64_t p, const uint8_t* bytes) {
        if (!announced) feedback_->status("");
        announced = true;
        table_.clear();
        appendUnlinked(p, bytes, record);
        Recent& r = recent[static_cast<size_t>(seen % 8)];
        r.position = p;
        r.name = std::string(table_.nameView(0).substr(0, 8));
        if (seen >= 7 && r.name.compare(0, 5, "$Boot") == 0) {
            const Recent& m = recent[static_cast<size_t>((seen - 7) % 8)];
            if (m.name.compare(0, 4, "$MFT") == 0 && (m.name.size() < 5 || m.name[4] != 'M')) {
                found.push_back(m.position);
                status("MFT ENTRY %lld Found.Parsing it ...", static_cast<long long>(seen + 1));
            }
        }
        ++seen;
        return true;
    }, [&] { return !found.empty() && static_cast<int64_t>(found.size()) >= maximum; });
    table_.clear();
    return found;
}

bool NtfsMftReader::selectCandidate(int64_t position, int64_t sectorsPerCluster) {
    table_.clear();
    extensions_.clear();
    deepTable_ = false;
    usedMirror_ = false;
    mftRuns_ = decodeRuns(position, kAttrData);
    mftLocated_ = !mftRuns_.empty();
    runsNeeded_ = !mftLocated_;
    if (sectorsPerCluster > 0 && sectorsPerCluster <= 4096) clusterSize_ = sectorsPerCluster * 512;
    else clusterSize_ = bootIsNtfs_ && clusterBytes_ > 0 ? clusterBytes_ : 4096;
    return mftLocated_;
}

}  // namespace quenlow::fs
