#include "filesystems/ntfs/ntfs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "filesystems/EntryFormat.h"
#include "filesystems/ntfs/Lznt1.h"
#include "platform/OutputFile.h"

namespace quenlow::fs {

namespace {

constexpr int64_t kScanChunk = 10485760;           // the boot-less scan reads 10 MiB at a time
constexpr int64_t kSlotBatch = 4096;               // MFT slots read per request (4 MiB)
constexpr size_t kCopyPiece = 8u << 20;            // bytes read per request while saving
constexpr uint64_t kMaxUnitBytes = 64u << 20;      // largest compression unit handled as such
constexpr size_t kMaxListBytes = 4u << 20;         // largest attribute list read
constexpr int64_t kStatusEvery = 4096;             // entries between status updates

// Leading decimal number of a text such as "1024   MB".
int64_t leadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    int64_t value = 0;
    bool any = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        any = true;
        if (value > (INT64_MAX - 9) / 10) return INT64_MAX;
        value = value * 10 + (text[i] - '0');
    }
    return any ? value : 0;
}

int64_t saturatingMul(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
    return r;
}

}  // namespace

// Where an entry's unnamed data lives, collected from its record or its extension records.
struct ntfs::DataLayout {
    bool hasData = false;
    char residency = 0;              // 'R' or 'N'
    std::vector<uint8_t> resident;   // resident content
    std::vector<NtfsRun> runs;
    int64_t clusterCount = 0;
    int64_t dataSize = 0;
    uint8_t compressionUnit = 0;
    bool compressed = false;
    bool fromExtensions = false;
};

ntfs::ntfs(disk::readWriteInterface& reader, const volumes::VolumeRecord& volume, FolderTree& tree,
           std::string rootLabel)
    : reader_(reader), volume_(volume), tree_(tree), rootLabel_(std::move(rootLabel)) {}

ntfs::~ntfs() = default;

void ntfs::status(const char* format, long long value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    feedback->status(text);
}

void ntfs::clearTable() {
    entries_.clear();
    names_.clear();
    firstLevel_.clear();
    extensions_.clear();
}

// ---------------------------------------------------------------------------------------
// Reading

int64_t ntfs::sourceEnd() const {
    if (reader_.sizeBytes() <= 0) return -1;
    return std::max<int64_t>(0, reader_.sizeBytes() - reader_.baseOffset);
}

bool ntfs::beyondSource(int64_t cluster) const {
    int64_t end = sourceEnd(), position;
    if (end < 0) return false;
    if (__builtin_mul_overflow(cluster, clusterSize_, &position)) return cluster > 0;
    return position >= end;
}

uint64_t ntfs::zeroClusters(int64_t cluster, uint64_t count) const {
    // Clusters before 0 cannot be sought and those past the source's end read as zeros.
    if (cluster < 0) return std::min<uint64_t>(count, static_cast<uint64_t>(-(cluster + 1)) + 1);
    return beyondSource(cluster) ? count : 0;
}

void ntfs::readBytes(int64_t offset, uint8_t* out, size_t bytes) {
    if (offset < 0) {
        std::memset(out, 0, bytes);
        return;
    }
    const int64_t limit = sourceEnd();
    size_t done = 0;
    while (done < bytes) {
        int64_t pos;
        size_t left = bytes - done;
        if (__builtin_add_overflow(offset, static_cast<int64_t>(done), &pos) || (limit >= 0 && pos >= limit)) {
            std::memset(out + done, 0, left);
            return;
        }
        if (left < disk::kSectorSize) {
            // Readers deliver whole sectors: read one and keep its head.
            uint8_t sector[disk::kSectorSize] = {};
            if (reader_.readRun(pos, sector, 1) != 1 && reader_.seek(pos, 0)) reader_.read(sector, disk::kSectorSize);
            std::memcpy(out + done, sector, left);
            return;
        }
        uint32_t sectors = static_cast<uint32_t>(std::min<size_t>(left / disk::kSectorSize, 1u << 16));
        uint32_t got = reader_.readRun(pos, out + done, sectors);
        if (got > sectors) got = sectors;
        done += static_cast<size_t>(got) * disk::kSectorSize;
        if (got < sectors) {
            // The failing sector is read on its own, as a plain seek and read would.
            uint8_t* sector = out + done;
            std::memset(sector, 0, disk::kSectorSize);
            if (reader_.seek(pos + static_cast<int64_t>(got) * disk::kSectorSize, 0))
                reader_.read(sector, disk::kSectorSize);
            done += disk::kSectorSize;
        }
    }
}

bool ntfs::loadRecord(int64_t position, NtfsRecord& record) {
    if (position < 0 || position > INT64_MAX - static_cast<int64_t>(kMftRecordSize) ||
        !reader_.seek(position, 0)) {
        record.assign(nullptr, 0);
        return false;
    }
    uint8_t bytes[kMftRecordSize];
    readBytes(position, bytes, kMftRecordSize);
    record.assign(bytes, kMftRecordSize);
    return true;
}

// ---------------------------------------------------------------------------------------
// Steps

void ntfs::prepare() {
    reader_.baseOffset = saturatingMul(volume_.startSector, disk::kSectorSize);
    rootItem_ = tree_.insertItem(kNoItem, rootLabel_, true, 0);
}

bool ntfs::readBootSector() {
    uint8_t boot[512];
    if (!reader_.seek(0, 0)) std::memset(boot, 0, sizeof boot);
    else readBytes(0, boot, sizeof boot);
    bootRead_ = true;
    bootIsNtfs_ = std::memcmp(boot + 3, "NTFS", 4) == 0;
    bytesPerSector_ = NtfsRecord::read16(boot, 11);
    sectorsPerCluster_ = boot[13];
    mftStartCluster_ = static_cast<int64_t>(NtfsRecord::read64(boot, 48));
    if (bootIsNtfs_) {
        uint64_t total = NtfsRecord::read64(boot, 40);
        volumeSize_ = total > static_cast<uint64_t>(INT64_MAX / 512) ? INT64_MAX
                                                                      : static_cast<int64_t>(total * 512);
    } else {
        volumeSize_ = saturatingMul(leadingNumber(volume_.volumeSizeText), 1048576);
    }
    return volumeSize_ != 0;
}

bool ntfs::locateMft() {
    // Clusters above 64 KiB store the sector count as a negative power of two.
    int64_t sectors = sectorsPerCluster_;
    if (sectorsPerCluster_ > 0x80 && 256 - sectorsPerCluster_ <= 20)
        sectors = int64_t{1} << (256 - sectorsPerCluster_);
    clusterSize_ = bootRead_ ? static_cast<int64_t>(bytesPerSector_) * sectors : 4096;
    if (bootIsNtfs_) {
        mftLocated_ = true;
        int64_t position = saturatingMul(mftStartCluster_, clusterSize_);
        if (position < 0 || !reader_.seek(position, 0) ||
            position > INT64_MAX - reader_.baseOffset) {
            mftRuns_.clear();
            return mftLocated_;
        }
        feedback->status("boot sector is fine.Getting run of mft entry...");
        mftRuns_ = decodeRuns(position, kAttrData);
        feedback->status("Got run...");
        runsNeeded_ = false;
        return mftLocated_;
    }

    clusterSize_ = 4096;
    feedback->status("boot sector corrupt.Scanning for first mft entry...");
    mftLocated_ = false;
    int64_t end = volumeSize_;
    if (reader_.sizeBytes() > 0)
        end = std::min<int64_t>(end, std::max<int64_t>(0, reader_.sizeBytes() - reader_.baseOffset));
    feedback->progressRange(0, volumeSize_ / kScanChunk);
    std::vector<uint8_t> chunk(static_cast<size_t>(kScanChunk));
    for (int64_t n = 0; n * kScanChunk < end; ++n) {
        if (control.poll()) break;
        if (n % 100 == 0) feedback->progressPosition(n);
        int64_t start = n * kScanChunk;
        if (!reader_.seek(start, 0)) continue;
        readBytes(start, chunk.data(), chunk.size());
        int64_t off = 0;
        while (off + 4 <= kScanChunk && start + off < end) {
            if (NtfsRecord::read32(chunk.data(), static_cast<size_t>(off)) != kFileSignature) {
                off += 512;
                continue;
            }
            NtfsEntry provisional;
            provisional.signature = kFileSignature;
            provisional.recordPosition = start + off;
            provisional.selfIndex = static_cast<int64_t>(entries_.size());
            entries_.push_back(provisional);
            int64_t index = provisional.selfIndex;
            NtfsRecord record;
            if (off + static_cast<int64_t>(kMftRecordSize) <= kScanChunk)
                record.assign(chunk.data() + off, kMftRecordSize);
            else
                loadRecord(start + off, record);
            applyRecord(index, record, true);
            if (nameAt(index).rfind("$MF", 0) == 0) {
                feedback->status("found mft entry.getting its run ...");
                mftRuns_ = decodeRuns(start + off, kAttrData);
                feedback->status("got run ...");
                if (!mftRuns_.empty()) {
                    mftLocated_ = true;
                    runsNeeded_ = false;
                    clearTable();
                    return true;
                }
            }
            off += kMftRecordSize;
        }
    }
    return mftLocated_;
}

bool ntfs::selectCandidate(size_t, const std::string&) { return false; }

void ntfs::collectRecords() {}

std::vector<NtfsRun> ntfs::decodeRuns(int64_t recordPosition, uint32_t type) {
    NtfsRecord record;
    if (!loadRecord(recordPosition, record)) return {};
    NtfsAttribute a;
    if (!record.firstNonResident(type, a)) return {};
    int64_t count = 0;
    if (__builtin_sub_overflow(a.lastVcn, a.startVcn, &count) || count == INT64_MAX) count = 0;
    else ++count;
    clusterCount_ = count;
    return record.runsOf(a);
}

void ntfs::enumerateMft() {
    if (!mftLocated_ || control.stopRequested()) return;
    if (runsNeeded_ && !entries_.empty()) {
        feedback->status("getting run of mft...");
        mftRuns_ = decodeRuns(entries_[0].recordPosition, kAttrData);
        feedback->status("got run...");
    } else {
        clearTable();
    }
    if (clusterSize_ <= 0) clusterSize_ = 4096;
    const int64_t cs = clusterSize_;
    recordsPerCluster_ = cs >= 1024 ? cs / 1024 : 1;
    const int64_t step = cs >= 1024 ? 1 : 2;

    // A table cannot hold more slots than the volume (or the source) has room for.
    int64_t room = std::max<int64_t>(volumeSize_, reader_.sizeBytes() - reader_.baseOffset);
    int64_t maxSlots = std::max<int64_t>(room / static_cast<int64_t>(kMftRecordSize), 1024) +
                       static_cast<int64_t>(entries_.size());
    uint64_t expected = 0;
    for (const NtfsRun& run : mftRuns_) {
        uint64_t clusters = run.length / static_cast<uint64_t>(step) + 1;
        expected = std::min<uint64_t>(expected + std::min<uint64_t>(clusters, 1u << 24), 1u << 24);
    }
    // Reserve for what the run list promises, within reason; the table grows beyond that.
    entries_.reserve(entries_.size() +
                     static_cast<size_t>(std::min<uint64_t>(expected * static_cast<uint64_t>(recordsPerCluster_),
                                                            std::min<int64_t>(maxSlots, 1 << 22))));

    int64_t pendingStart = 0, pendingSlots = 0;
    auto flush = [&] {
        if (pendingSlots > 0) flushSlots(pendingStart, pendingSlots);
        pendingSlots = 0;
    };
    for (const NtfsRun& run : mftRuns_) {
        status("parsing %lld cluster of MFT run.", static_cast<long long>(run.cluster));
        if (control.poll()) break;
        for (uint64_t k = 0; k < run.length; k += static_cast<uint64_t>(step)) {
            if (static_cast<int64_t>(entries_.size()) + pendingSlots >= maxSlots) break;
            int64_t cluster;
            if (__builtin_add_overflow(run.cluster, static_cast<int64_t>(k), &cluster)) break;
            int64_t position;
            if (__builtin_mul_overflow(cluster, cs, &position)) continue;
            if (position < 0 || position > INT64_MAX - reader_.baseOffset ||
                position + reader_.baseOffset < 0)
                continue;  // the seek fails: the cluster is passed over
            int64_t slots = std::min<int64_t>(recordsPerCluster_,
                                              maxSlots - static_cast<int64_t>(entries_.size()) - pendingSlots);
            if (pendingSlots > 0 &&
                position == pendingStart + pendingSlots * static_cast<int64_t>(kMftRecordSize) &&
                pendingSlots + slots <= kSlotBatch) {
                pendingSlots += slots;
            } else {
                flush();
                if (control.stopRequested()) return;
                pendingStart = position;
                pendingSlots = slots;
            }
        }
    }
    flush();
}

void ntfs::flushSlots(int64_t start, int64_t slots) {
    size_t bytes = static_cast<size_t>(slots) * kMftRecordSize;
    if (slotBuffer_.size() < bytes) slotBuffer_.resize(bytes);
    readBytes(start, slotBuffer_.data(), bytes);
    NtfsRecord record;
    for (int64_t s = 0; s < slots; ++s) {
        const uint8_t* slot = slotBuffer_.data() + static_cast<size_t>(s) * kMftRecordSize;
        NtfsEntry e;
        e.signature = NtfsRecord::read32(slot, 0);
        e.recordPosition = start + s * static_cast<int64_t>(kMftRecordSize);
        e.selfIndex = static_cast<int64_t>(entries_.size());
        entries_.push_back(e);
        record.assign(slot, kMftRecordSize);
        applyRecord(e.selfIndex, record, false);
        entries_.back().readAhead = 1;
        uint64_t base = record.baseRecord();
        if (base != 0 && entries_.back().hasName && base < (1ULL << 62))
            extensions_.emplace_back(e.selfIndex, static_cast<int64_t>(base));
    }
}

void ntfs::parseRecord(int64_t recordPosition, int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(entries_.size())) return;
    NtfsRecord record;
    if (!loadRecord(recordPosition, record)) return;
    applyRecord(index, record, true);
}

void ntfs::storeName(int64_t index, const std::string& text) {
    NtfsEntry& e = entries_[static_cast<size_t>(index)];
    if (e.hasName && e.nameLength >= text.size()) {
        std::memcpy(names_.data() + e.nameOffset, text.data(), text.size());  // reuse the room
    } else {
        e.nameOffset = names_.size();
        names_.append(text);
    }
    e.nameLength = static_cast<uint32_t>(text.size());
    e.hasName = 1;
}

void ntfs::applyRecord(int64_t index, const NtfsRecord& record, bool link) {
    bool first = true;
    bool longName = false;  // the name taken so far is not a DOS alias
    const std::string* lastName = nullptr;
    NtfsFileName names[2];
    int slot = 0;
    for (const NtfsAttribute& a : record.attributes()) {
        if (a.type != kAttrFileName || a.nonResident != 0) continue;
        NtfsFileName& fn = names[slot];
        if (!record.fileName(a, fn)) continue;
        NtfsEntry& e = entries_[static_cast<size_t>(index)];
        if (fn.directory) e.kind = 'D';
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
            storeName(index, *lastName);
            linkEntry(index);
        } else if (e.pendingLinks < 255) {
            ++e.pendingLinks;
        }
    }
    if (lastName != nullptr && !link) storeName(index, *lastName);
}

void ntfs::moveExtensionNames() {
    // An extension record's FILE_NAMEs belong to its base record: the base is the file
    // (it holds the standard information and the start of the data), the extension is not.
    const int64_t n = static_cast<int64_t>(entries_.size());
    for (const auto& [i, b] : extensions_) {
        if (i < 0 || i >= n || b <= 0 || b >= n || b == i) continue;
        NtfsEntry& ext = entries_[static_cast<size_t>(i)];
        NtfsEntry& base = entries_[static_cast<size_t>(b)];
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

// ---------------------------------------------------------------------------------------
// Linking

void ntfs::linkEntry(int64_t i) {
    const int64_t n = static_cast<int64_t>(entries_.size());
    NtfsEntry& e = entries_[static_cast<size_t>(i)];
    int64_t p = e.parentRef;
    if (p >= i || p < 0) {
        e.nextSibling = 0;
        if (p >= n || p < 0) {
            e.orphan = 1;
            return;
        }
        if (p == i) {
            // Its own parent: the root folder, or an entry that belongs under the orphan
            // folder. Decided once the root is known; never its own child.
            e.orphan = 2;
            return;
        }
        if (entries_[static_cast<size_t>(p)].firstChild == 0)
            entries_[static_cast<size_t>(p)].firstChild = i;
        appendEntry(i);
        return;
    }
    NtfsEntry& parent = entries_[static_cast<size_t>(p)];
    if (parent.kind == 'D') {
        if (parent.firstChild == 0 && e.hasName) parent.firstChild = i;
        appendEntry(i);
    } else {
        e.orphan = 1;
    }
}

void ntfs::appendEntry(int64_t i) {
    const int64_t n = static_cast<int64_t>(entries_.size());
    NtfsEntry& e = entries_[static_cast<size_t>(i)];
    if (e.selfIndex == 0 || e.selfIndex >= n) return;
    int64_t p = e.parentRef;
    if (p < 0 || p >= n) return;
    NtfsEntry& parent = entries_[static_cast<size_t>(p)];
    int64_t g = p == 0 ? 0 : parent.firstChild;
    if (g == 0) {
        parent.firstChild = i;
        return;
    }
    if (g < 0 || g >= n) return;
    if (entries_[static_cast<size_t>(g)].signature != kFileSignature) return;
    if (g == i || p == i) return;
    // Children are only ever added at the end of a list while linking, so the walk may
    // start at the last child seen for this folder.
    bool remember = !walkWholeLists && static_cast<size_t>(p) < lastChild_.size();
    if (remember && lastChild_[static_cast<size_t>(p)] > 0) g = lastChild_[static_cast<size_t>(p)];
    for (int64_t steps = 0; steps < n; ++steps) {
        if (g == i) return;
        int64_t next = static_cast<int64_t>(static_cast<uint32_t>(entries_[static_cast<size_t>(g)].nextSibling));
        if (next == 0 || next >= n) break;
        if (entries_[static_cast<size_t>(next)].selfIndex == entries_[static_cast<size_t>(g)].selfIndex) break;
        g = next;
    }
    if (g == i) return;
    entries_[static_cast<size_t>(g)].nextSibling = i;
    if (remember) lastChild_[static_cast<size_t>(p)] = i;
}

void ntfs::forgetReadAhead(int64_t from) {
    // Entries the parse did not reach keep only what the MFT walk itself gives them.
    for (size_t j = static_cast<size_t>(std::max<int64_t>(from, 0)); j < entries_.size(); ++j) {
        NtfsEntry& r = entries_[j];
        if (!r.readAhead) continue;
        r.clearFileNames();
        r.readAhead = 0;
    }
}

bool ntfs::parseEntries() {
    if (mftLocated_ && control.stopRequested()) forgetReadAhead(0);
    if (mftLocated_ && !control.stopRequested()) {
        const int64_t n = static_cast<int64_t>(entries_.size());
        feedback->progressRange(0, n);
        if (!walkWholeLists) lastChild_.assign(static_cast<size_t>(n), 0);
        moveExtensionNames();
        for (int64_t i = 0; i < n; ++i) {
            if (i % kStatusEvery == 0 || i == n - 1) {
                status("parsing MFT entry %lld...", static_cast<long long>(i));
                feedback->progressPosition(i);
            }
            NtfsEntry& e = entries_[static_cast<size_t>(i)];
            if (control.poll()) {
                forgetReadAhead(i);
                break;
            }
            if (e.readAhead) {
                int links = e.pendingLinks;
                e.pendingLinks = 0;
                for (int k = 0; k < links; ++k) linkEntry(i);
            } else {
                parseRecord(e.recordPosition, i);
            }
        }
        std::vector<int64_t>().swap(lastChild_);
    }

    NtfsEntry orphanFolder;
    orphanFolder.signature = kFileSignature;
    orphanFolder.kind = 'D';
    entries_.push_back(orphanFolder);
    orphanIndex_ = static_cast<int64_t>(entries_.size()) - 1;
    storeName(orphanIndex_, "ORPHAN_ENTRY");
    const int64_t n = static_cast<int64_t>(entries_.size());

    rootIndex_ = n;
    for (int64_t i = 0; i < n; ++i) {
        const NtfsEntry& e = entries_[static_cast<size_t>(i)];
        if (e.hasName && e.nameLength == 1 && names_[e.nameOffset] == '.') {
            rootIndex_ = i;
            break;
        }
    }
    for (NtfsEntry& e : entries_)
        if (e.orphan == 2) e.orphan = (&e - entries_.data()) == rootIndex_ ? 0 : 1;
    if (rootIndex_ < n) entries_[static_cast<size_t>(rootIndex_)].orphan = 0;

    if (rootIndex_ > 0 && rootIndex_ < n) {
        NtfsEntry& o = entries_[static_cast<size_t>(orphanIndex_)];
        o.parentRef = rootIndex_;
        o.nextSibling = 0;
        o.selfIndex = orphanIndex_;
        o.recordFlags = 1;
        int64_t last = entries_[static_cast<size_t>(rootIndex_)].firstChild;
        if (last < 0 || last >= n) last = 0;
        for (int64_t steps = 0; steps < n; ++steps) {
            int64_t next = entries_[static_cast<size_t>(last)].nextSibling;
            if (next <= 0 || next >= n || next == orphanIndex_) break;
            last = next;
        }
        if (last != orphanIndex_) entries_[static_cast<size_t>(last)].nextSibling = orphanIndex_;
    }
    orphanChildrenOfFiles();
    if (mode == 3) arrangeDeep();
    else linkOrphans();
    cutRevisits();
    return fillFirstLevel();
}

void ntfs::orphanChildrenOfFiles() {
    // A parent slot that turned out to hold a file (linked before the parent was read)
    // hands its children to the orphan folder; a file's child list is never shown.
    const int64_t n = static_cast<int64_t>(entries_.size());
    for (int64_t p = 0; p < n; ++p) {
        NtfsEntry& parent = entries_[static_cast<size_t>(p)];
        if (parent.kind == 'D' || parent.firstChild <= 0) continue;
        int64_t c = parent.firstChild;
        parent.firstChild = 0;
        for (int64_t steps = 0; c > 0 && c < n && steps < n; ++steps) {
            NtfsEntry& child = entries_[static_cast<size_t>(c)];
            int64_t next = child.nextSibling;
            if (child.orphan) break;
            child.orphan = 1;
            child.nextSibling = 0;
            c = next;
        }
    }
}

void ntfs::linkOrphans() {
    const int64_t n = static_cast<int64_t>(entries_.size());
    NtfsEntry& o = entries_[static_cast<size_t>(orphanIndex_)];
    bool first = true;
    for (int64_t i = 0; i < n; ++i) {
        NtfsEntry& e = entries_[static_cast<size_t>(i)];
        if (e.orphan == 0 || i == orphanIndex_ || i == rootIndex_) continue;
        if (first) {
            o.firstChild = i;
            e.parentRef = orphanIndex_;
            e.nextSibling = -1;
            first = false;
        } else {
            e.nextSibling = o.firstChild;
            o.firstChild = i;
        }
    }
}

void ntfs::arrangeDeep() {}

void ntfs::cutRevisits() {
    // Every entry may be reached once from the root: a child met again (a list that loops,
    // or a folder below itself) ends its list there.
    const int64_t n = static_cast<int64_t>(entries_.size());
    if (rootIndex_ < 0 || rootIndex_ >= n) return;
    std::vector<bool> seen(static_cast<size_t>(n), false);
    std::vector<int64_t> folders{rootIndex_};
    seen[static_cast<size_t>(rootIndex_)] = true;
    if (orphanIndex_ >= 0 && orphanIndex_ < n) {
        folders.push_back(orphanIndex_);
        seen[static_cast<size_t>(orphanIndex_)] = true;
    }
    // The orphan folder is normally the root's last child: let the root's walk meet it.
    auto walk = [&](int64_t f, bool allowOrphanFolder) {
        int64_t* link = &entries_[static_cast<size_t>(f)].firstChild;
        while (*link > 0) {
            int64_t c = *link;
            if (c >= n) {
                *link = 0;
                break;
            }
            if (seen[static_cast<size_t>(c)] && !(allowOrphanFolder && c == orphanIndex_)) {
                *link = 0;
                break;
            }
            if (!seen[static_cast<size_t>(c)]) {
                seen[static_cast<size_t>(c)] = true;
                if (entries_[static_cast<size_t>(c)].kind == 'D' && entries_[static_cast<size_t>(c)].firstChild > 0)
                    folders.push_back(c);
            }
            if (c == orphanIndex_) break;  // the orphan folder ends the root's list
            link = &entries_[static_cast<size_t>(c)].nextSibling;
        }
    };
    for (size_t k = 0; k < folders.size(); ++k) walk(folders[k], folders[k] == rootIndex_);
}

void ntfs::insertFirstLevel(int64_t index) {
    const NtfsEntry& e = entries_[static_cast<size_t>(index)];
    TreeItem item = tree_.insertItem(rootItem_, nameAt(index), e.kind == 'D', refOf(index));
    if ((e.recordFlags & 1) == 0) tree_.setRed(item);
    firstLevel_.push_back(refOf(index));
}

bool ntfs::fillFirstLevel() {
    const int64_t n = static_cast<int64_t>(entries_.size());
    firstLevel_.clear();
    if (rootIndex_ < 0 || rootIndex_ >= n) return false;
    bool orphanShown = false;
    if (mode != 3) {
        int64_t c = entries_[static_cast<size_t>(rootIndex_)].firstChild;
        for (int64_t steps = 0; c > 0 && c < n && steps < n; ++steps) {
            insertFirstLevel(c);
            if (c == orphanIndex_) {
                orphanShown = true;
                break;
            }
            c = entries_[static_cast<size_t>(c)].nextSibling;
        }
    }
    if (!orphanShown && orphanIndex_ >= 0 && orphanIndex_ < n) insertFirstLevel(orphanIndex_);
    tree_.expand(rootItem_);
    return true;
}

// ---------------------------------------------------------------------------------------
// Entries as the browse and save steps see them

int64_t ntfs::indexOf(EntryRef ref) const {
    if (ref == kNoEntry || ref > entries_.size()) return -1;
    return static_cast<int64_t>(ref - 1);
}

const NtfsEntry* ntfs::entry(EntryRef ref) const {
    int64_t i = indexOf(ref);
    return i < 0 ? nullptr : &entries_[static_cast<size_t>(i)];
}

std::string ntfs::nameAt(int64_t index) const {
    if (index < 0 || index >= static_cast<int64_t>(entries_.size())) return {};
    const NtfsEntry& e = entries_[static_cast<size_t>(index)];
    if (!e.hasName) return {};
    return names_.substr(e.nameOffset, e.nameLength);
}

EntryRef ntfs::firstChild(EntryRef folder) const {
    const NtfsEntry* e = entry(folder);
    if (e == nullptr || e->firstChild <= 0 || e->firstChild >= static_cast<int64_t>(entries_.size()))
        return kNoEntry;
    return refOf(e->firstChild);
}

EntryRef ntfs::nextSibling(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    if (e == nullptr || e->nextSibling <= 0 || e->nextSibling >= static_cast<int64_t>(entries_.size()))
        return kNoEntry;
    return refOf(e->nextSibling);
}

bool ntfs::qualifiesAsSaveFolder(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && e->signature == kFileSignature && e->kind == 'D' && e->selfIndex > 0 &&
           e->selfIndex < static_cast<int64_t>(entries_.size()) && (e->selfIndex >> 32) == 0;
}

bool ntfs::isFolder(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && e->kind == 'D';
}

bool ntfs::isFile(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && e->kind != 'D';
}

bool ntfs::hasChildren(EntryRef ref) const { return firstChild(ref) != kNoEntry; }

bool ntfs::isDeleted(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && (e->recordFlags & 1) == 0;
}

std::string ntfs::name(EntryRef ref) const { return nameAt(indexOf(ref)); }

int64_t ntfs::sizeField(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e == nullptr ? 0 : e->size;
}

bool ntfs::skipWhenSaving(EntryRef ref) const { return name(ref) == "$BadClus"; }

bool ntfs::setName(EntryRef ref, const std::string& newName) {
    int64_t i = indexOf(ref);
    if (i < 0 || newName.size() > UINT32_MAX) return false;
    storeName(i, newName);
    return true;
}

EntryTexts ntfs::entryTexts(EntryRef ref) {
    EntryTexts texts;
    int64_t i = indexOf(ref);
    if (i < 0 || i == orphanIndex_) return texts;  // the orphan folder has no record
    NtfsRecord record;
    if (!loadRecord(entries_[static_cast<size_t>(i)].recordPosition, record)) return texts;
    uint64_t created = 0, modified = 0, accessed = 0;
    if (record.standardTimes(created, modified, accessed)) {
        texts.created = dateTextFromFileTime(created);
        texts.accessed = dateTextFromFileTime(accessed);
        texts.modified = dateTextFromFileTime(modified);
    }
    for (const NtfsAttribute& a : record.attributes()) {
        if (a.type != kAttrFileName || a.nonResident != 0) continue;
        NtfsFileName fn;
        if (!record.fileName(a, fn)) continue;
        std::string text;
        static const struct {
            uint32_t bit;
            const char* marker;
        } kMarkers[] = {{0x1, "-R"}, {0x2, "-H"}, {0x200, "-S"}, {0x20, "-A"}, {0x800, "-C"}, {0x4000, "-E"}};
        for (const auto& m : kMarkers)
            if (fn.fileAttributes & m.bit) text += m.marker;
        texts.attributes = text;
    }
    return texts;
}

// ---------------------------------------------------------------------------------------
// Data

bool ntfs::readAttributeList(const NtfsRecord& record, std::vector<uint8_t>& bytes) {
    for (const NtfsAttribute& a : record.attributes()) {
        if (a.type != kAttrAttributeList) continue;
        if (a.nonResident == 0) {
            uint32_t start = 0, length = 0;
            if (!record.residentContent(a, start, length)) return false;
            bytes.assign(record.fixed() + start, record.fixed() + start + length);
            return true;
        }
        std::vector<NtfsRun> runs = record.runsOf(a);
        int64_t cs = clusterSize_ > 0 ? clusterSize_ : 4096;
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
                    readBytes(position, bytes.data() + at, static_cast<size_t>(runBytes));
            }
            at += runBytes;
        }
        return true;
    }
    return false;
}

bool ntfs::loadData(int64_t index, NtfsRecord& record, DataLayout& layout) {
    const NtfsEntry& e = entries_[static_cast<size_t>(index)];
    loadRecord(e.recordPosition, record);
    if (!record.isFile()) return false;

    auto fromSummary = [&](const NtfsRecord& r, const NtfsDataSummary& d, DataLayout& out) {
        out.hasData = d.residency != 0;
        out.residency = d.residency;
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
    };

    std::vector<uint8_t> list;
    bool hasList = false;
    for (const NtfsAttribute& a : record.attributes())
        if (a.type == kAttrAttributeList) hasList = true;
    if (hasList && readAttributeList(record, list)) {
        std::vector<NtfsListEntry> extents;
        bool elsewhere = false;
        for (const NtfsListEntry& le : NtfsRecord::listEntries(list.data(), list.size())) {
            if (le.type != kAttrData || le.nameLength != 0) continue;
            extents.push_back(le);
            if (le.recordNumber != static_cast<uint64_t>(index)) elsewhere = true;
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
                if (le.recordNumber >= entries_.size()) continue;  // outside the table
                if (le.startVcn < covered) continue;                // repeated or overlapping
                const NtfsRecord* r = &record;
                if (le.recordNumber != static_cast<uint64_t>(index)) {
                    loadRecord(entries_[static_cast<size_t>(le.recordNumber)].recordPosition, other);
                    if (!other.isFile()) continue;
                    r = &other;
                }
                for (const NtfsAttribute& a : r->attributes()) {
                    if (a.type != kAttrData || a.nameLength != 0) continue;
                    if (a.nonResident == 0) {
                        if (firstExtent && le.startVcn == 0) {
                            NtfsDataSummary d = r->dataSummary();
                            DataLayout resident;
                            fromSummary(*r, d, resident);
                            if (resident.residency == 'R') {
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
                    std::vector<NtfsRun> runs = r->runsOf(a);
                    for (const NtfsRun& run : runs) {
                        layout.runs.push_back(run);
                        layout.clusterCount = static_cast<int64_t>(std::min<uint64_t>(
                            static_cast<uint64_t>(INT64_MAX), static_cast<uint64_t>(layout.clusterCount) + run.length));
                    }
                    covered = layout.clusterCount;
                    if (firstExtent) {
                        layout.hasData = true;
                        layout.residency = 'N';
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

int64_t ntfs::dataSize(EntryRef ref) {
    int64_t i = indexOf(ref);
    if (i < 0) return -1;
    if (i == orphanIndex_) return 0;
    try {
        NtfsRecord record;
        DataLayout layout;
        loadData(i, record, layout);
        if (!layout.hasData) return 0;
        if (layout.residency == 'R') return static_cast<int64_t>(layout.resident.size());
        return layout.dataSize;
    } catch (const std::exception&) {
        return -1;
    }
}

std::string ntfs::sizeText(EntryRef ref) {
    int64_t size = dataSize(ref);
    return size < 0 ? std::string() : fs::sizeText(size);
}

void ntfs::readClusters(int64_t cluster, uint64_t count, uint8_t* out) {
    const int64_t cs = clusterSize_;
    size_t bytes = static_cast<size_t>(count * static_cast<uint64_t>(cs));
    int64_t position;
    if (cluster <= 0 || __builtin_mul_overflow(cluster, cs, &position) ||
        position > INT64_MAX - reader_.baseOffset || position + reader_.baseOffset < 0) {
        std::memset(out, 0, bytes);
        return;
    }
    readBytes(position, out, bytes);
}

namespace {

// Writes a file's data in pieces and cuts it at the data size; a null piece is a hole.
struct CutWriter {
    platform::OutputFile& out;
    uint64_t left;
    void emit(const uint8_t* data, uint64_t bytes) {
        uint64_t n = std::min(bytes, left);
        if (data == nullptr) {
            if (!out.writeZeros(n)) throw std::runtime_error(out.error());
        } else if (!out.write(data, static_cast<size_t>(n))) {
            throw std::runtime_error(out.error());
        }
        left -= n;
    }
};

}  // namespace

void ntfs::plainCopy(const DataLayout& layout, platform::OutputFile& out) {
    const int64_t cs = clusterSize_;
    if (layout.dataSize <= 0) return;
    CutWriter writer{out, static_cast<uint64_t>(layout.dataSize)};
    uint64_t& left = writer.left;
    auto emit = [&writer](const uint8_t* data, uint64_t bytes) { writer.emit(data, bytes); };
    std::vector<uint8_t> buffer;
    const uint64_t piece = std::max<uint64_t>(1, kCopyPiece / static_cast<uint64_t>(cs));
    for (const NtfsRun& run : layout.runs) {
        if (left == 0) break;
        if (run.sparse) {
            uint64_t bytes = run.length > left / static_cast<uint64_t>(cs) + 1 ? left : run.length * static_cast<uint64_t>(cs);
            emit(nullptr, bytes);
            continue;
        }
        uint64_t k = 0;
        // Clusters whose position cannot be sought are passed over, neither written nor counted.
        if (run.cluster < 0) {
            uint64_t skip = static_cast<uint64_t>(-(run.cluster + 1)) + 1;
            k = std::min(run.length, skip);
        }
        while (k < run.length && left > 0) {
            uint64_t count = std::min<uint64_t>(piece, run.length - k);
            count = std::min<uint64_t>(count, (left + static_cast<uint64_t>(cs) - 1) / static_cast<uint64_t>(cs));
            int64_t cluster;
            int64_t position;
            if (__builtin_add_overflow(run.cluster, static_cast<int64_t>(k), &cluster) ||
                __builtin_mul_overflow(cluster, cs, &position) || position > INT64_MAX - reader_.baseOffset ||
                position + reader_.baseOffset < 0)
                return;
            if (beyondSource(cluster)) {
                // Past the end of the source every cluster reads as zeros: one hole.
                uint64_t rest = run.length - k;
                emit(nullptr, rest > left / static_cast<uint64_t>(cs) + 1 ? left : rest * static_cast<uint64_t>(cs));
                break;
            }
            size_t bytes = static_cast<size_t>(count * static_cast<uint64_t>(cs));
            if (buffer.size() < bytes) buffer.resize(bytes);
            readBytes(position, buffer.data(), bytes);
            emit(buffer.data(), bytes);
            k += count;
        }
    }
}

void ntfs::compressedCopy(const DataLayout& layout, platform::OutputFile& out) {
    const int64_t cs = clusterSize_;
    if (layout.dataSize <= 0) return;
    CutWriter writer{out, static_cast<uint64_t>(layout.dataSize)};
    uint64_t& left = writer.left;
    auto emit = [&writer](const uint8_t* data, uint64_t bytes) { writer.emit(data, bytes); };
    // The unit size in clusters is a 16-bit value: 2^16 and above read as 0.
    uint64_t unit = layout.compressionUnit < 16 ? (uint64_t{1} << layout.compressionUnit) : 0;
    if (unit * static_cast<uint64_t>(cs) > kMaxUnitBytes) unit = 0;
    // The clusters of the attribute in order, as (cluster, count) pieces; cluster 0 is a hole.
    struct Piece {
        int64_t cluster;
        uint64_t count;
    };
    std::vector<Piece> pieces;
    uint64_t total = layout.clusterCount > 0 ? static_cast<uint64_t>(layout.clusterCount) : 0;
    uint64_t mapped = 0;
    for (const NtfsRun& run : layout.runs) {
        if (mapped >= total) break;
        uint64_t count = std::min(run.length, total - mapped);
        pieces.push_back({run.sparse ? 0 : run.cluster, count});
        mapped += count;
    }
    if (mapped < total) pieces.push_back({0, total - mapped});

    if (unit == 0) {
        std::vector<uint8_t> buffer;
        const uint64_t step = std::max<uint64_t>(1, kCopyPiece / static_cast<uint64_t>(cs));
        for (const Piece& p : pieces) {
            for (uint64_t k = 0; k < p.count && left > 0;) {
                uint64_t rest = p.count - k;
                uint64_t zeros = p.cluster == 0 ? rest : zeroClusters(p.cluster + static_cast<int64_t>(k), rest);
                if (zeros > 0) {
                    emit(nullptr, zeros > left / static_cast<uint64_t>(cs) + 1 ? left : zeros * static_cast<uint64_t>(cs));
                    k += zeros;
                    continue;
                }
                uint64_t count = std::min(step, p.count - k);
                count = std::min<uint64_t>(count, (left + static_cast<uint64_t>(cs) - 1) / static_cast<uint64_t>(cs));
                size_t bytes = static_cast<size_t>(count * static_cast<uint64_t>(cs));
                if (p.cluster == 0) {
                    emit(nullptr, bytes);
                } else {
                    if (buffer.size() < bytes) buffer.resize(bytes);
                    readClusters(p.cluster + static_cast<int64_t>(k), count, buffer.data());
                    emit(buffer.data(), bytes);
                }
                k += count;
            }
        }
        return;
    }

    const size_t unitBytes = static_cast<size_t>(unit * static_cast<uint64_t>(cs));
    std::vector<uint8_t> stored(unitBytes), plain(unitBytes);
    std::vector<int64_t> numbers(static_cast<size_t>(unit));
    size_t piece = 0;
    uint64_t within = 0;
    const uint64_t units = total / unit;
    for (uint64_t u = 0; u < units && left > 0; ++u) {
        // Whole units inside a hole, or past the end of the source, are zeros: skip them at once.
        while (piece < pieces.size() && within >= pieces[piece].count) {
            ++piece;
            within = 0;
        }
        if (piece < pieces.size()) {
            const Piece& p = pieces[piece];
            uint64_t rest = p.count - within;
            uint64_t zeros = p.cluster == 0 ? rest : zeroClusters(p.cluster + static_cast<int64_t>(within), rest);
            if (zeros >= unit) {
                uint64_t skip = std::min(zeros / unit, units - u);
                uint64_t bytes = skip > left / unitBytes + 1 ? left : skip * unitBytes;
                emit(nullptr, bytes);
                within += skip * unit;
                u += skip - 1;
                continue;
            }
        }
        // The unit's cluster numbers.
        for (uint64_t c = 0; c < unit; ++c) {
            while (piece < pieces.size() && within >= pieces[piece].count) {
                ++piece;
                within = 0;
            }
            int64_t number = 0;
            if (piece < pieces.size() && pieces[piece].cluster != 0)
                number = pieces[piece].cluster + static_cast<int64_t>(within);
            numbers[static_cast<size_t>(c)] = number;
            ++within;
        }
        uint64_t a = 0;
        for (uint64_t c = unit; c > 0; --c)
            if (numbers[static_cast<size_t>(c - 1)] != 0) {
                a = c;
                break;
            }
        if (a == 0) {
            emit(nullptr, unitBytes);
            continue;
        }
        // Read the unit's stored clusters, joining neighbours into one request.
        for (uint64_t c = 0; c < a;) {
            uint64_t run = 1;
            while (c + run < a && numbers[static_cast<size_t>(c + run)] != 0 &&
                   numbers[static_cast<size_t>(c)] != 0 &&
                   numbers[static_cast<size_t>(c + run)] == numbers[static_cast<size_t>(c)] + static_cast<int64_t>(run))
                ++run;
            readClusters(numbers[static_cast<size_t>(c)], run, stored.data() + c * static_cast<uint64_t>(cs));
            c += run;
        }
        if (a == unit) {
            emit(stored.data(), unitBytes);  // stored as it is
            continue;
        }
        Lznt1::Result r = Lznt1::decompress(stored.data(), static_cast<size_t>(a * static_cast<uint64_t>(cs)),
                                            plain.data(), unitBytes);
        // A unit always stands for its full size: what the data does not fill is zero.
        std::memset(plain.data() + r.written, 0, unitBytes - r.written);
        emit(plain.data(), unitBytes);
    }
}

bool ntfs::saveEntry(EntryRef ref, const std::string& outputPath, std::string& error) {
    int64_t i = indexOf(ref);
    if (i < 0) {
        error = "not an entry of this volume";
        return false;
    }
    const NtfsEntry& e = entries_[static_cast<size_t>(i)];
    if (!e.hasName) {
        error = "the entry has no name";
        return false;
    }
    platform::OutputFile out;
    if (!out.createExclusive(outputPath)) {
        error = out.error();
        return false;
    }
    try {
        NtfsRecord record;
        DataLayout layout;
        bool synthetic = i == orphanIndex_;
        bool valid = !synthetic && loadData(i, record, layout);
        if (!valid && !synthetic) {
            feedback->message("not a valid entry...");
            out.close();
            error = "not a valid entry...";
            return false;
        }
        if (valid && layout.fromExtensions && layout.hasData && layout.residency == 'N') {
            if (layout.compressed) compressedCopy(layout, out);
            else plainCopy(layout, out);
            layout.hasData = false;
        }
        if (e.kind == 'D') {
            char text[1024];
            std::snprintf(text, sizeof text, "This is  %s directory .Please specify file names ",
                          nameAt(i).c_str());
            feedback->message(text);
        } else if (!layout.hasData) {
            // nothing to write
        } else if (layout.residency == 'R') {
            if (!out.write(layout.resident.data(), layout.resident.size())) throw std::runtime_error(out.error());
        } else if (layout.compressed) {
            compressedCopy(layout, out);
        } else {
            plainCopy(layout, out);
        }
        uint64_t created = 0, modified = 0, accessed = 0;
        if (valid && record.standardTimes(created, modified, accessed))
            if (!out.setTimes(platform::unixFromFileTime(accessed), platform::unixFromFileTime(modified)))
                throw std::runtime_error(out.error());
        if (!out.close()) throw std::runtime_error(out.error());
    } catch (const std::exception& ex) {
        char text[1024];
        std::snprintf(text, sizeof text, "Exception :  %s   ", ex.what());
        feedback->message(text);
        out.close();
        error = ex.what();
        return false;
    }
    return true;
}

}  // namespace quenlow::fs
