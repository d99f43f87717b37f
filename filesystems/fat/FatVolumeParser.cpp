#include "filesystems/fat/FatVolumeParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>

#include "disk/RecoveryContext.h"
#include "filesystems/EntryFormat.h"
#include "filesystems/ChunkedScan.h"
#include "filesystems/fat/FatChainStream.h"
#include "filesystems/fat/FatEntryScan.h"
#include "filesystems/fat/FatNameAssembler.h"
#include "platform/ByteReader.h"

namespace quenlow::fs {

namespace {

bool validDate(int year, int month, int day) {
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return !(month == 2 && day == 29 && !leap);
}

// Days from 1970-01-01 to a civil date.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

platform::CalendarTime calendar(uint16_t date, uint16_t time) {
    platform::CalendarTime c;
    c.year = 1980 + (date >> 9);
    c.month = (date >> 5) & 15;
    c.day = date & 31;
    c.hour = time >> 11;
    c.minute = (time >> 5) & 63;
    c.second = (time & 31) * 2;
    return c;
}

}  // namespace

// The walk of one folder (or the root): where it is, and what it has met in the piece it
// is reading. The piece itself is in buffer_, read again when the walk comes back from a
// sub-folder.
struct FatVolumeParser::Frame {
    uint32_t parent = 0;     // the folder's record (0: the top level)
    bool root = false;
    bool deletedWalk = false;  // the folder or one above it is deleted
    uint32_t cluster = 0;    // the cluster being read (0: the fixed root region)
    size_t pos = 0;          // next entry in the piece
    bool first = true;       // the folder's first cluster: its first entry must be "."
    std::unordered_map<uint32_t, uint32_t> folders;  // first cluster -> record, in this piece
    FatNameAssembler names;
};

FatVolumeParser::FatVolumeParser(const ParserSetup& setup, const Variant& variant)
    : setup_(setup), variant_(variant) {}

int64_t FatVolumeParser::clusterOffset(uint32_t c) const {
    return geometry_.dataStart + static_cast<int64_t>((static_cast<uint64_t>(c) - 2) * geometry_.clusterBytes);
}

uint32_t FatVolumeParser::firstCluster(const FatDirRecord& r) const {
    uint32_t high = variant_.highClusterWord ? r.firstClusterHigh : 0;
    return (high << 16) | r.firstClusterLow;
}

uint32_t FatVolumeParser::nextCluster(uint32_t c) {
    if (formatted_) return kEnd;
    if (c < 2 || c >= clusterLimit_) return kEnd;
    uint32_t v = fat_.entry(c);
    return v >= variant_.endMark ? kEnd : v;
}

bool FatVolumeParser::readBootSector(FatGeometry& geometry, bool& fromBackup) const {
    fromBackup = false;
    for (int64_t sector : {int64_t{0}, int64_t{6}}) {
        if (sector != 0 && variant_.entryBytes != 4) break;
        uint8_t boot[512] = {};
        geometry = FatGeometry{};
        if (setup_.view.read(sector * 512, boot, sizeof boot).ok() && validateBootSector(boot, geometry) &&
            geometry.clusterBytes != 0) {
            fromBackup = sector != 0;
            return true;
        }
    }
    geometry = FatGeometry{};
    return false;
}

ParseOutcome FatVolumeParser::parse(WorkControl& control, Feedback& feedback, Mode mode) {
    formatted_ = setup_.context != nullptr && setup_.context->driveFormatted;
    if (mode == Mode::Advanced) return parseAdvanced(control, feedback);
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    bool fromBackup = false;
    if (!readBootSector(geometry_, fromBackup)) {
        feedback.message(variant_.notFormatText);
        return {Status::failure(variant_.notFormatText), false};
    }
    if (fromBackup) feedback.message(kBackupBootText);
    maxCluster_ = volumeBytes() / geometry_.clusterBytes;
    fat_ = FatTable(setup_.view, geometry_.fatStart, geometry_.fatBytes, variant_.entryBytes);
    clusterLimit_ = std::min<uint64_t>({maxCluster_, fat_.entryCount(), kEnd});

    feedback.status(variant_.findingText);
    walk(control);
    feedback.status(kFatLinkingText);
    linkChildren();
    feedback.status(kFatCreatingTreeText);
    fillTree(feedback);
    feedback.status(kFatTreeCreatedText);
    if (variant_.progressAfterTree) {
        feedback.progressRange(0, 100);
        feedback.progressPosition(100);
    }
    return {};
}

// The record's size (whole megabytes), else the boot sector's.
uint64_t FatVolumeParser::volumeBytes() const {
    uint64_t bytes = static_cast<uint64_t>(volumes::recordSizeBytes(setup_.volume));
    return bytes != 0 ? bytes : geometry_.bootTotalBytes;
}

bool FatVolumeParser::claim(uint32_t cluster, bool deletedWalk) {
    if (walked_.count(cluster) != 0) return false;
    // A deleted folder may point at a cluster a live folder now uses: the live folder still
    // walks it, so that nothing it holds ends up only under the deleted one.
    if (deletedWalk) return walkedDeleted_.insert(cluster).second;
    walked_.insert(cluster);
    return true;
}

bool FatVolumeParser::loadPiece(const Frame& f) {
    if (f.root && variant_.fixedRoot) {
        buffer_.assign(static_cast<size_t>(geometry_.rootBytes), 0);
        setup_.view.readQuiet(geometry_.rootStart, buffer_.data(), buffer_.size());
    } else {
        buffer_.assign(static_cast<size_t>(geometry_.clusterBytes), 0);
        setup_.view.readQuiet(clusterOffset(f.cluster), buffer_.data(), buffer_.size());
    }
    buffer_.resize(buffer_.size() / 32 * 32);
    return true;
}

FatVolumeParser::Frame FatVolumeParser::rootFrame() {
    Frame root;
    root.root = true;
    if (!variant_.fixedRoot) {
        uint32_t c = geometry_.rootCluster;
        if (c < 2 || c >= clusterLimit_) c = 2;
        root.cluster = c;
        walked_.insert(c);
        rootClusters_.insert(c);
    }
    return root;
}

int64_t FatVolumeParser::slotOffset(const Frame& f) const {
    if (f.root && variant_.fixedRoot) return geometry_.rootStart + static_cast<int64_t>(f.pos);
    return clusterOffset(f.cluster) + static_cast<int64_t>(f.pos);
}

void FatVolumeParser::walk(WorkControl& control) {
    records_.clear();
    std::vector<Frame> stack;
    stack.push_back(rootFrame());
    loadPiece(stack.back());
    if (buffer_.empty()) return;

    FatDirRecord dummy;
    dummy.copyFields(buffer_.data());
    dummy.name = "DUMMY ENTRY";
    records_.push_back(dummy);
    runWalk(control, stack);
    buffer_.clear();
    buffer_.shrink_to_fit();
}

// The depth-first walk of the folders on `stack` (its top's piece is in buffer_).
void FatVolumeParser::runWalk(WorkControl& control, std::vector<Frame>& stack) {
    uint64_t pieces = 0;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.pos >= buffer_.size()) {
            // The piece is done: the folder goes on with the next cluster of its chain.
            if ((++pieces & 63) == 0 && control.poll()) break;
            uint32_t next = kEnd;
            if (f.root) {
                if (!variant_.fixedRoot) {
                    // The root's chain is followed as stored, whatever driveFormatted says.
                    uint32_t v = f.cluster < clusterLimit_ ? fat_.entry(f.cluster) : kEnd;
                    if (v < variant_.endMark && follows(v) && claim(v, false)) {
                        next = v;
                        rootClusters_.insert(v);
                    }
                }
            } else {
                uint32_t v = nextCluster(f.cluster);
                if (follows(v) && claim(v, f.deletedWalk)) next = v;
            }
            if (next == kEnd) {
                stack.pop_back();
                if (!stack.empty()) loadPiece(stack.back());
                continue;
            }
            f.cluster = next;
            f.pos = 0;
            f.first = false;
            f.folders.clear();
            if (!f.root) f.names.reset();  // below the root a long name does not cross clusters
            loadPiece(f);
            continue;
        }

        const uint8_t* e = buffer_.data() + f.pos;
        const uint8_t attr = e[11];
        if (!f.root) {
            if (e[0] == 0) {  // the rest of this cluster is unused
                f.pos = buffer_.size();
                continue;
            }
            if (f.first && f.pos == 0 && e[0] != '.') {
                // Not a folder's first cluster (a deleted folder whose cluster was reused).
                stack.pop_back();
                if (!stack.empty()) loadPiece(stack.back());
                continue;
            }
        }
        const int64_t at = advanced_ ? slotOffset(f) : 0;
        if (advanced_) {
            if (!f.root && attr == 0xCD) {  // the end of what this cluster holds
                f.pos = buffer_.size();
                continue;
            }
            auto used = usedSlots_.find(at);
            if (used != usedSlots_.end()) {
                // Listed already, from the scan or by another walk: not again. An entry
                // the scan put among the orphans now has its folder.
                if (used->second != kNoSlotRecord) adopt(used->second, f.parent);
                f.names.reset();
                f.pos += 32;
                continue;
            }
        }
        if (attr == kFatLongName) {
            if (advanced_) usedSlots_.emplace(at, kNoSlotRecord);
            f.names.addPiece(e);
            f.pos += 32;
            continue;
        }
        if (e[0] == 0) {  // the root: an unused entry adds nothing and takes a pending name
            f.names.reset();
            f.pos += 32;
            continue;
        }
        if (!f.root && (attr & kFatDirectory) != 0 && e[0] == '.') {  // "." and ".."
            f.names.reset();
            f.pos += 64;
            continue;
        }

        FatDirRecord r;
        r.copyFields(e);
        bool deleted = false;
        r.name = f.names.take(e, r.isFolder(), deleted);
        r.deleted = deleted ? 1 : 0;
        r.parentRef = f.parent;
        f.pos += 32;
        if (!r.isFolder()) {
            r.selfIndex = static_cast<uint32_t>(records_.size());
            if (advanced_) usedSlots_[at] = r.selfIndex;
            records_.push_back(std::move(r));
            continue;
        }
        uint32_t cluster = firstCluster(r);
        auto known = f.folders.find(cluster);
        if (known != f.folders.end()) {
            // The same folder again (a deleted entry and a live one): one record, the later name.
            records_[known->second].name = r.name;
            records_[known->second].deleted = r.deleted;
            if (advanced_) usedSlots_[at] = known->second;
            continue;
        }
        if (records_.size() >= UINT32_MAX - 1) break;
        uint32_t index = static_cast<uint32_t>(records_.size());
        r.selfIndex = index;
        bool deletedWalk = f.deletedWalk || r.deleted != 0;
        if (advanced_) usedSlots_[at] = index;
        records_.push_back(std::move(r));
        f.folders.emplace(cluster, index);
        if (cluster >= 2 && cluster < clusterLimit_ && claim(cluster, deletedWalk)) {
            Frame child;
            child.parent = index;
            child.deletedWalk = deletedWalk;
            child.cluster = cluster;
            stack.push_back(std::move(child));
            loadPiece(stack.back());
        }
    }
}


// ---------------------------------------------------------------------------------------
// Advanced mode: the FAT found by a search, the cluster size the user gives, and the
// directory entries found anywhere on the volume

bool FatVolumeParser::fatSignatureAt(const uint8_t* p) const {
    const platform::ByteReader r(p, 8);
    // Entry 0 holds the media byte 0xF8; entry 1 is all ones but for the top bits (reserved
    // on FAT32) and the two state bits below them (clean shut-down, no disk error), which
    // systems clear while a volume is in use.
    if (variant_.entryBytes == 4) return (r.le32(0) & 0x0FFFFFFF) == 0x0FFFFFF8 && (r.le32(4) & 0x03FFFFFF) == 0x03FFFFFF;
    return r.le16(0) == 0xFFF8 && (r.le16(2) & 0x3FFF) == 0x3FFF;
}

Result<CandidateSearch> FatVolumeParser::findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) {
    if (maximum < 1) maximum = 3;
    CandidateSearch search;
    bool fromBackup = false;
    bootValid_ = readBootSector(bootGeometry_, fromBackup);
    search.bootValid = bootValid_;
    if (bootValid_ && bootGeometry_.clusterBytes % 512 == 0)
        search.bootSectorsPerCluster = static_cast<int64_t>(bootGeometry_.clusterBytes / 512);

    const uint64_t total = [&] {
        uint64_t bytes = static_cast<uint64_t>(volumes::recordSizeBytes(setup_.volume));
        if (bytes == 0 && bootValid_) bytes = bootGeometry_.bootTotalBytes;
        // The searches end at the end of the source, whatever a boot sector claims.
        int64_t source = setup_.view.sourceLength();
        if (source > 0 && (bytes == 0 || bytes > static_cast<uint64_t>(source))) bytes = static_cast<uint64_t>(source);
        return bytes;
    }();
    fatCandidates_.clear();
    feedback.progressRange(0, 1000);
    char text[160];
    const ChunkedScan chunks(setup_.view, static_cast<int64_t>(total), kFatSearchChunkBytes);
    chunks.run(control, nullptr, [&](int64_t position, std::span<const uint8_t> bytes, size_t own) {
                   const uint64_t offset = static_cast<uint64_t>(position);
                   const uint8_t* data = bytes.data();
                   feedback.progressPosition(
                       static_cast<int64_t>(static_cast<double>(offset) / static_cast<double>(total) * 1000));
                   if (variant_.entryBytes == 4) {
                       std::snprintf(text, sizeof text, "Parsing Disk Currently at position %f of the disk of size %f",
                                     static_cast<double>(offset), static_cast<double>(total));
                       feedback.status(text);
                   }
                   // The entries sit at a sector's start, and a piece is whole sectors: a
                   // signature never spans two pieces.
                   for (size_t at = 0; at + 8 <= own; at += 512) {
                       if (!fatSignatureAt(data + at)) continue;
                       fatCandidates_.push_back(static_cast<int64_t>(offset + at));
                       std::snprintf(text, sizeof text, "found fat entry  %zu ", fatCandidates_.size());
                       feedback.status(text);
                       if (fatCandidates_.size() >= static_cast<uint64_t>(maximum)) return false;
                   }
                   return true;
               });
    feedback.progressPosition(1000);
    searched_ = true;
    chosen_.reset();
    search.entries = fatCandidates_;
    return search;
}

bool FatVolumeParser::chooseCandidate(const CandidateChoice& choice, std::string& error) {
    if (!searched_) {
        error = "the FAT candidates have not been searched for";
        return false;
    }
    if (choice.entry >= fatCandidates_.size()) {
        error = fatCandidates_.empty() ? std::string("the search found no FAT")
                                       : "there is no FAT candidate " + std::to_string(choice.entry) +
                                             " (the search found " + std::to_string(fatCandidates_.size()) + ")";
        return false;
    }
    if (choice.heap) {
        error = "FAT volumes have no cluster heap candidates";
        return false;
    }
    const int64_t n = choice.sectorsPerCluster;
    if (n < 1 || n > 128 || (n & (n - 1)) != 0) {
        error = "sectors per cluster must be a power of two from 1 to 128 (not " + std::to_string(n) + ")";
        return false;
    }
    chosen_ = choice.entry;
    chosenSectors_ = static_cast<uint32_t>(n);
    return true;
}

ParseOutcome FatVolumeParser::parseAdvanced(WorkControl& control, Feedback& feedback) {
    if (!chosen_ || *chosen_ >= fatCandidates_.size() || chosenSectors_ == 0) {
        const char* text = "No FAT candidate was chosen: search for the candidates and choose one first.";
        feedback.message(text);
        return {Status::failure(text), false};
    }
    advanced_ = true;
    records_.clear();
    firstLevel_.clear();
    walked_.clear();
    walkedDeleted_.clear();
    usedSlots_.clear();
    rootClusters_.clear();
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);

    geometry_ = FatGeometry{};
    geometry_.bytesPerSector = 512;
    geometry_.sectorsPerCluster = chosenSectors_;
    geometry_.clusterBytes = 512ull * chosenSectors_;
    geometry_.bootTotalBytes = bootValid_ ? bootGeometry_.bootTotalBytes : 0;
    advancedBytes_ = volumeBytes();
    const int64_t source = setup_.view.sourceLength();
    if (source > 0 && (advancedBytes_ == 0 || advancedBytes_ > static_cast<uint64_t>(source)))
        advancedBytes_ = static_cast<uint64_t>(source);
    maxCluster_ = advancedBytes_ / geometry_.clusterBytes;
    geometry_.fatStart = fatCandidates_[*chosen_];

    FatEntryScan scan(variant_.entryBytes == 4, geometry_.clusterBytes, maxCluster_);
    scan.run(setup_.view, advancedBytes_, control, feedback);
    if (scan.stopped()) control.clearStop();  // what was found before the stop is still listed
    const bool rootKnown = placeRegions(scan);
    fat_ = FatTable(setup_.view, geometry_.fatStart, geometry_.fatBytes, variant_.entryBytes);
    clusterLimit_ = std::min<uint64_t>({maxCluster_, fat_.entryCount(), kEnd});
    geometry_.rootCluster = bootValid_ ? bootGeometry_.rootCluster : 2;

    feedback.status("Maintaining directory Structure in AdvanceScanning");
    assemble(control, scan.found(), rootKnown);
    feedback.status(variant_.maintainingTreeText);
    linkChildren();
    fillTree(feedback);
    return {};
}

// Where the FAT ends and the root and cluster 2 start, from the candidates (a FAT's copies
// follow it at equal distances), the boot sector when it was sound, and the scan (the "."
// entries, the first root entries). Returns whether the root's place is known well enough
// to walk it.
bool FatVolumeParser::placeRegions(const FatEntryScan& scan) {
    FatGeometry& g = geometry_;
    const std::vector<int64_t>& c = fatCandidates_;
    const size_t chosen = *chosen_;
    uint64_t spacing = 0;
    if (chosen + 1 < c.size()) spacing = static_cast<uint64_t>(c[chosen + 1] - c[chosen]);
    else if (chosen > 0) spacing = static_cast<uint64_t>(c[chosen] - c[chosen - 1]);
    size_t last = chosen, copies = 1;
    if (spacing != 0) {
        size_t first = chosen;
        while (first > 0 && static_cast<uint64_t>(c[first] - c[first - 1]) == spacing) --first;
        while (last + 1 < c.size() && static_cast<uint64_t>(c[last + 1] - c[last]) == spacing) ++last;
        copies = last - first + 1;
    }
    const uint64_t estimate = ((maxCluster_ + 2) * variant_.entryBytes + 511) / 512 * 512;
    if (copies > 1) g.fatBytes = spacing;
    else if (bootValid_ && bootGeometry_.fatBytes != 0) g.fatBytes = bootGeometry_.fatBytes;
    else g.fatBytes = estimate;
    const uint64_t room = advancedBytes_ > static_cast<uint64_t>(g.fatStart) ? advancedBytes_ - g.fatStart : 0;
    g.fatBytes = std::min(g.fatBytes, room);
    if (variant_.entryBytes == 2) g.fatBytes = std::min<uint64_t>(g.fatBytes, 65536 * 2);
    const int64_t fatEnd = (copies > 1 ? c[last] : g.fatStart) + static_cast<int64_t>(g.fatBytes);
    const auto firstMarkerFrom = [&](int64_t from) -> int64_t {
        for (int64_t m : scan.markers())
            if (m >= from) return m;
        return -1;
    };

    bool known = true;
    if (!variant_.fixedRoot) {
        if (bootValid_) {
            g.dataStart = bootGeometry_.dataStart;
        } else if (int64_t v = scan.votedDataStart(fatEnd, 512, advancedBytes_); v >= 0) {
            g.dataStart = v;
        } else if (int64_t m = firstMarkerFrom(fatEnd); m >= 0) {
            g.dataStart = m;
        } else {
            g.dataStart = 0;  // taken from the first entry found
            known = false;
        }
        rootWindowEnd_ = g.dataStart + static_cast<int64_t>(g.clusterBytes);
        return known;
    }

    if (copies > 1) {
        g.rootStart = fatEnd;
    } else if (bootValid_) {
        g.rootStart = bootGeometry_.rootStart;
    } else if (int64_t m = firstMarkerFrom(fatEnd); m >= 0) {
        g.rootStart = m;
    } else {
        // Two FATs of two bytes a cluster behind a small reserved area.
        g.rootStart = static_cast<int64_t>(2 * ((2 * maxCluster_) / 512 * 512 + 512 + 2048));
        known = false;
    }
    constexpr uint64_t kLargestRoot = 65535 * 32;
    if (bootValid_ && bootGeometry_.rootStart == g.rootStart) {
        g.dataStart = bootGeometry_.dataStart;
    } else if (int64_t v = scan.votedDataStart(g.rootStart + 32, 32, kLargestRoot); v >= 0) {
        g.dataStart = v;
    } else {
        g.dataStart = g.rootStart + 16384;  // 512 entries
    }
    g.rootBytes = static_cast<uint64_t>(g.dataStart - g.rootStart);
    rootWindowEnd_ = std::max(g.rootStart + static_cast<int64_t>(g.clusterBytes), g.dataStart);
    return known;
}

void FatVolumeParser::assemble(WorkControl& control, const std::vector<int64_t>& found, bool rootKnown) {
    if (found.empty() && !rootKnown) return;
    if (geometry_.dataStart == 0 && !found.empty()) {
        geometry_.dataStart = std::max<int64_t>(found.front() - 32, 0);
        if (!variant_.fixedRoot) rootWindowEnd_ = geometry_.dataStart + static_cast<int64_t>(geometry_.clusterBytes);
    }
    FatDirRecord dummy;
    dummy.attributes = kFatLongName;
    dummy.name = "DUMMY ENTRY";
    records_.push_back(dummy);
    FatDirRecord orphans;
    orphans.attributes = kFatDirectory;
    orphans.name = "ORPHAN ENTRY";
    orphans.selfIndex = kOrphanIndex;
    records_.push_back(orphans);

    if (rootKnown) {
        // The root folder first, whatever its entries look like: its place is known.
        std::vector<Frame> stack;
        stack.push_back(rootFrame());
        loadPiece(stack.back());
        runWalk(control, stack);
    }
    for (size_t i = 0; i < found.size(); ++i) {
        if ((i & 4095) == 4095 && control.poll()) break;
        if (usedSlots_.count(found[i]) == 0) assembleAt(control, found[i]);
    }
    if (found.empty() && records_.size() == 2) records_.clear();
    usedSlots_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
}

void FatVolumeParser::assembleAt(WorkControl& control, int64_t position) {
    usedSlots_.emplace(position, kNoSlotRecord);
    // The run of long-name pieces the slot may start and the entry after it, read from
    // the start of the slot's sector (reads are whole sectors).
    constexpr size_t kRun = 32 * (FatNameAssembler::kMaxPieces + 1);
    uint8_t window[kRun + 512] = {};
    const int64_t sector = position / 512 * 512;
    const size_t skip = static_cast<size_t>(position - sector);
    const uint64_t left = advancedBytes_ - static_cast<uint64_t>(sector);
    setup_.view.readQuiet(sector, window, static_cast<size_t>(std::min<uint64_t>(sizeof window, left)));
    const uint8_t* run = window + skip;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kRun, left - skip));
    const uint8_t* e = run;
    int64_t at = position;
    if (e[0] == '.') return;
    FatNameAssembler names;
    if (e[11] == kFatLongName) {
        size_t i = 0;
        for (; i < static_cast<size_t>(FatNameAssembler::kMaxPieces) && (i + 1) * 32 <= n && run[i * 32 + 11] == kFatLongName; ++i) {
            names.addPiece(run + i * 32);
            usedSlots_.emplace(position + static_cast<int64_t>(32 * i), kNoSlotRecord);
        }
        if ((i + 1) * 32 > n) return;
        e = run + 32 * i;
        at = position + static_cast<int64_t>(32 * i);
        // A run longer than a name, one that names nothing, or a name listed already.
        if (e[11] == kFatLongName || e[0] == 0 || usedSlots_.count(at) != 0) return;
    }
    if (e[0] == 0 || e[0] == '.' || records_.size() >= UINT32_MAX - 1) return;
    FatDirRecord r;
    r.copyFields(e);
    bool deleted = false;
    r.name = names.take(e, r.isFolder(), deleted);
    r.deleted = deleted ? 1 : 0;
    r.parentRef = inRootWindow(at) ? 0 : kOrphanIndex;
    const uint32_t index = static_cast<uint32_t>(records_.size());
    r.selfIndex = index;
    usedSlots_[at] = index;
    const bool folder = r.isFolder();
    const uint32_t cluster = firstCluster(r);
    records_.push_back(std::move(r));
    if (!folder || cluster < 2 || cluster >= clusterLimit_ || !claim(cluster, deleted)) return;
    std::vector<Frame> stack(1);
    stack.back().parent = index;
    stack.back().deletedWalk = deleted;
    stack.back().cluster = cluster;
    loadPiece(stack.back());
    runWalk(control, stack);
}

bool FatVolumeParser::inRootWindow(int64_t position) const {
    if (position < rootWindowEnd_) return true;
    if (variant_.fixedRoot || position < geometry_.dataStart) return false;
    uint64_t c = static_cast<uint64_t>(position - geometry_.dataStart) / geometry_.clusterBytes + 2;
    return c < kEnd && rootClusters_.count(static_cast<uint32_t>(c)) != 0;
}

// Puts `record`, listed among the orphans, into the folder `parent` a walk found it in,
// unless that folder lies below it.
void FatVolumeParser::adopt(uint32_t record, uint32_t parent) {
    if (record >= records_.size() || records_[record].parentRef != kOrphanIndex || parent == record) return;
    uint32_t n = parent;
    for (size_t steps = 0; steps <= records_.size(); ++steps) {
        if (n == record) return;
        if (n <= kOrphanIndex || n >= records_.size()) break;
        uint32_t up = records_[n].parentRef;
        if (up == n) break;
        n = up;
    }
    records_[record].parentRef = parent;
}

void FatVolumeParser::linkChildren() {
    // Each record joins the end of its folder's list, in table order; remembering each
    // list's last record keeps this linear.
    std::vector<int32_t> last(records_.size(), kFatNoRecord);
    for (size_t i = 0; i < records_.size(); ++i) {
        uint32_t p = records_[i].parentRef;
        if (p >= records_.size() || p == i) continue;
        int32_t self = static_cast<int32_t>(i);
        if (records_[p].firstChild == kFatNoRecord) {
            records_[p].firstChild = self;
        } else {
            records_[static_cast<size_t>(last[p])].nextSibling = self;
        }
        last[p] = self;
    }
}

void FatVolumeParser::fillTree(Feedback& feedback) {
    firstLevel_.clear();
    char text[64];
    for (size_t i = 1; i < records_.size(); ++i) {
        if ((i & 4095) == 1 || i + 1 == records_.size()) {
            std::snprintf(text, sizeof text, "filling entry =%zu in tree ", i);
            feedback.status(text);
        }
        const FatDirRecord& r = records_[i];
        if (r.parentRef != 0 || r.isLabel()) continue;
        firstLevel_.push_back(refOf(i));
        if (setup_.tree != nullptr) {
            TreeItem item = setup_.tree->insertItem(rootItem_, r.name, r.isFolder(), refOf(i));
            if (r.deleted) setup_.tree->setRed(item);
        }
    }
    if (setup_.tree != nullptr) setup_.tree->expand(rootItem_);
}

// ---------------------------------------------------------------------------------------
// Entries as the browse and save steps see them

const FatDirRecord* FatVolumeParser::record(EntryRef ref) const {
    if (ref == kNoEntry || ref > records_.size()) return nullptr;
    return &records_[static_cast<size_t>(ref - 1)];
}

EntryRef FatVolumeParser::firstChild(EntryRef folder) const {
    const FatDirRecord* r = record(folder);
    if (r == nullptr || r->firstChild < 0 || static_cast<size_t>(r->firstChild) >= records_.size()) return kNoEntry;
    return refOf(static_cast<size_t>(r->firstChild));
}

EntryRef FatVolumeParser::nextSibling(EntryRef entry) const {
    const FatDirRecord* r = record(entry);
    if (r == nullptr || r->nextSibling < 0 || static_cast<size_t>(r->nextSibling) >= records_.size()) return kNoEntry;
    return refOf(static_cast<size_t>(r->nextSibling));
}

bool FatVolumeParser::isFolder(EntryRef entry) const {
    const FatDirRecord* r = record(entry);
    return r != nullptr && r->isFolder();
}

bool FatVolumeParser::isFile(EntryRef entry) const {
    const FatDirRecord* r = record(entry);
    return r != nullptr && !r->isFolder() && !r->isLabel();
}

bool FatVolumeParser::isDeleted(EntryRef entry) const {
    const FatDirRecord* r = record(entry);
    return r != nullptr && r->deleted != 0;
}

std::string FatVolumeParser::name(EntryRef entry) const {
    const FatDirRecord* r = record(entry);
    return r == nullptr ? std::string() : r->name;
}

int64_t FatVolumeParser::sizeField(EntryRef entry) const {
    const FatDirRecord* r = record(entry);
    return r == nullptr ? 0 : r->fileSize;
}

bool FatVolumeParser::setName(EntryRef entry, const std::string& newName) {
    if (record(entry) == nullptr) return false;
    records_[static_cast<size_t>(entry - 1)].name = newName;
    return true;
}

std::string FatVolumeParser::sizeText(EntryRef entry) { return fs::sizeText(sizeField(entry)); }

EntryTexts FatVolumeParser::entryTexts(EntryRef entry) {
    EntryTexts texts;
    const FatDirRecord* r = record(entry);
    if (r == nullptr) return texts;
    texts.created = dateText(calendar(r->createDate, r->createTime));
    platform::CalendarTime a = calendar(r->accessDate, 0);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%d ", a.month, a.day, a.year);
    texts.accessed = text;
    texts.modified = dateText(calendar(r->writeDate, r->writeTime));
    if (r->attributes & kFatReadOnly) texts.attributes += "-R";
    if (r->attributes & kFatHidden) texts.attributes += "-H";
    if (r->attributes & kFatSystem) texts.attributes += "-S";
    if (r->attributes & kFatArchive) texts.attributes += "-A";
    return texts;
}

std::optional<platform::UnixTime> FatVolumeParser::dosTime(uint16_t date, uint16_t time) {
    platform::CalendarTime c = calendar(date, time);
    if (!validDate(c.year, c.month, c.day) || c.hour > 23 || c.minute > 59 || c.second > 59) return std::nullopt;
    int64_t days = daysFromCivil(c.year, c.month, c.day);
    return platform::UnixTime{days * 86400 + c.hour * 3600 + c.minute * 60 + c.second, 0};
}

EntryTimes FatVolumeParser::times(EntryRef entry) {
    EntryTimes t;
    const FatDirRecord* r = record(entry);
    if (r == nullptr) return t;
    t.created = dosTime(r->createDate, r->createTime);
    t.accessed = dosTime(r->accessDate, 0);
    t.modified = dosTime(r->writeDate, r->writeTime);
    return t;
}

Result<EntryData> FatVolumeParser::openData(EntryRef entry, Feedback&) {
    const FatDirRecord* r = record(entry);
    if (r == nullptr) return Status::failure("not an entry of this volume");
    EntryData data;
    data.times = times(entry);
    if (r->isFolder() || r->isLabel()) {
        data.stream = std::make_unique<MemoryStream>(std::vector<uint8_t>{});
        return data;
    }
    const uint64_t size = r->fileSize, cb = geometry_.clusterBytes;
    std::vector<RunStream::Run> runs;
    uint64_t covered = 0;
    auto add = [&](uint32_t c) {
        uint64_t n = std::min(cb, size - covered);
        int64_t at = clusterOffset(c);
        if (!runs.empty() && runs.back().volumeOffset + static_cast<int64_t>(runs.back().length) == at)
            runs.back().length += n;
        else
            runs.push_back({n, at});
        covered += n;
    };
    uint32_t first = firstCluster(*r);
    if (size > 0 && first >= 2 && first < clusterLimit_) {
        add(first);
        if (formatted_) {
            // A formatted volume's FAT is empty: the file is taken to be contiguous.
            for (uint64_t c = uint64_t{first} + 1; covered < size && c < maxCluster_; ++c) add(static_cast<uint32_t>(c));
        } else {
            // The chain, cut where it comes back to a cluster it already gave.
            std::map<uint32_t, uint32_t> used{{first, first + 1}};  // clusters given, as spans
            auto current = used.begin();
            uint32_t nextStart = UINT32_MAX;
            for (uint32_t n = nextCluster(first); covered < size && follows(n); n = nextCluster(n)) {
                if (n == current->second && n != nextStart) {
                    ++current->second;
                } else {
                    auto after = used.upper_bound(n);
                    if (after != used.begin() && std::prev(after)->second > n) break;  // a loop
                    if (after != used.end() && after->first == n) break;
                    nextStart = after == used.end() ? UINT32_MAX : after->first;
                    current = used.emplace_hint(after, n, n + 1);
                }
                add(n);
            }
        }
    }
    data.stream = std::make_unique<FatChainStream>(setup_.view, std::move(runs), covered, size);
    data.size = size;
    return data;
}

}  // namespace quenlow::fs
