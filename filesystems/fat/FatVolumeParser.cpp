#include "filesystems/fat/FatVolumeParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>

#include "disk/RecoveryContext.h"
#include "filesystems/EntryFormat.h"
#include "filesystems/fat/FatChainStream.h"
#include "filesystems/fat/FatNameAssembler.h"

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

ParseOutcome FatVolumeParser::parse(WorkControl& control, Feedback& feedback, Mode) {
    formatted_ = setup_.context != nullptr && setup_.context->driveFormatted;
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    uint8_t boot[512] = {};
    disk::VolumeView::ReadReport report = setup_.view.read(0, boot, sizeof boot);
    if (!report.ok() || !validateBootSector(boot, geometry_) || geometry_.clusterBytes == 0) {
        feedback.message(variant_.notFormatText);
        return {Status::failure(variant_.notFormatText), false};
    }
    uint64_t volumeBytes = static_cast<uint64_t>(volumes::recordSizeBytes(setup_.volume));
    if (volumeBytes == 0) volumeBytes = geometry_.bootTotalBytes;
    maxCluster_ = volumeBytes / geometry_.clusterBytes;
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

void FatVolumeParser::walk(WorkControl& control) {
    records_.clear();
    std::vector<Frame> stack;
    Frame root;
    root.root = true;
    if (!variant_.fixedRoot) {
        uint32_t c = geometry_.rootCluster;
        if (c < 2 || c >= clusterLimit_) c = 2;
        root.cluster = c;
        walked_.insert(c);
    }
    stack.push_back(std::move(root));
    loadPiece(stack.back());
    if (buffer_.empty()) return;

    FatDirRecord dummy;
    dummy.copyFields(buffer_.data());
    dummy.name = "DUMMY ENTRY";
    records_.push_back(dummy);

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
                    if (v < variant_.endMark && follows(v) && claim(v, false)) next = v;
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
        if (attr == kFatLongName) {
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
            records_.push_back(std::move(r));
            continue;
        }
        uint32_t cluster = firstCluster(r);
        auto known = f.folders.find(cluster);
        if (known != f.folders.end()) {
            // The same folder again (a deleted entry and a live one): one record, the later name.
            records_[known->second].name = r.name;
            records_[known->second].deleted = r.deleted;
            continue;
        }
        if (records_.size() >= UINT32_MAX - 1) break;
        uint32_t index = static_cast<uint32_t>(records_.size());
        r.selfIndex = index;
        bool deletedWalk = f.deletedWalk || r.deleted != 0;
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
    buffer_.clear();
    buffer_.shrink_to_fit();
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
