#include "filesystems/exfat/Fat64Class.h"

#include <algorithm>
#include <cstdio>

#include "disk/RecoveryContext.h"
#include "filesystems/EntryFormat.h"
#include "filesystems/ParserRegistry.h"
#include "filesystems/exfat/ExFatAdvanced.h"
#include "filesystems/exfat/ExFatDataStream.h"
#include "filesystems/exfat/ExFatWalker.h"

namespace quenlow::fs {

namespace {

// A timestamp as stored: year - 1980 in bits 25-31, month 21-24, day 16-20, hour 11-15,
// minute 5-10, two-second count 0-4. No time-zone shift.
platform::CalendarTime calendarOf(uint32_t stamp) {
    platform::CalendarTime t;
    t.year = 1980 + static_cast<int>(stamp >> 25);
    t.month = static_cast<int>((stamp >> 21) & 0x0F);
    t.day = static_cast<int>((stamp >> 16) & 0x1F);
    t.hour = static_cast<int>((stamp >> 11) & 0x1F);
    t.minute = static_cast<int>((stamp >> 5) & 0x3F);
    t.second = 2 * static_cast<int>(stamp & 0x1F);
    return t;
}

int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The stored fields taken as UTC, with the hundredths of a second where the set has them;
// nothing for fields no clock gives.
std::optional<platform::UnixTime> unixOf(uint32_t stamp, int hundredths) {
    platform::CalendarTime t = calendarOf(stamp);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return std::nullopt;
    platform::UnixTime u;
    u.seconds = daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    if (hundredths > 0 && hundredths < 200) {
        u.seconds += hundredths / 100;
        u.nanoseconds = static_cast<int64_t>(hundredths % 100) * 10'000'000;
    }
    return u;
}

}  // namespace

ParserInfo fat64ParserInfo() {
    ParserInfo info;
    info.name = "exFAT";
    info.typeNames = {"fat64", "exFat"};
    info.modes = {Mode::Standard, Mode::Advanced};
    info.restoresRecycleBin = true;
    info.expandingClearsList = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<Fat64Class>(setup); };
    return info;
}

Fat64Class::Fat64Class(const ParserSetup& setup) : setup_(setup) {}

Fat64Class::~Fat64Class() = default;

bool Fat64Class::driveFormatted() const { return setup_.context != nullptr && setup_.context->driveFormatted; }

int64_t Fat64Class::volumeBytes() const {
    int64_t bytes = volumes::recordSizeBytes(setup_.volume);
    if (bytes <= 0 && search_ && search_->bootValid) bytes = geometry_.volumeBytes;
    // Nothing past the end of the source can be found: a size from a damaged boot sector
    // does not make the scans read zeros for ever.
    const int64_t source = setup_.view.sourceLength();
    if (bytes <= 0 || (source >= 0 && bytes > source)) bytes = source;
    return bytes;
}

Result<CandidateSearch> Fat64Class::findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) {
    CandidateSearch search;
    ExFatGeometry::Verdict verdict = geometry_.read(setup_.view, volumes::recordSizeBytes(setup_.volume));
    if (verdict == ExFatGeometry::Verdict::Unreadable) feedback.message(kCantReadText);
    search.bootValid = verdict == ExFatGeometry::Verdict::Ok;
    if (search.bootValid) search.bootSectorsPerCluster = geometry_.clusterBytes / 512;
    search_ = search;
    const int64_t end = volumeBytes();
    if (end <= 0) return Status::failure("the volume's size is not known: give its end");
    if (maximum < 1) maximum = 3;
    ExFatSignatures found = findExFatSignatures(setup_.view, end, static_cast<size_t>(std::min(maximum, kMaxCandidates)),
                                                control, feedback);
    search.entries = std::move(found.fats);
    search.heaps = std::move(found.heaps);
    // A sound boot sector says where the heap starts; without any heap found it is the
    // only candidate.
    if (search.bootValid) {
        if (search.heaps.empty())
            search.heaps.push_back(geometry_.dataStart);
        else
            search.heaps.front() = geometry_.dataStart;
    } else {
        // Without it, a root folder whose up-case table lies where a heap start and cluster
        // size put it gives both: the heap first, so that it pairs with the first FAT.
        for (const auto& [position, anchor] : found.roots) {
            const auto guess = heapFromRoot(setup_.view, end, position, anchor);
            if (!guess) continue;
            std::erase(search.heaps, guess->heap);
            search.heaps.insert(search.heaps.begin(), guess->heap);
            search.foundSectorsPerCluster = guess->clusterBytes / 512;
            break;
        }
    }
    search_ = search;
    chosen_.reset();
    return search;
}

bool Fat64Class::chooseCandidate(const CandidateChoice& choice, std::string& error) {
    chosen_.reset();
    if (!search_) {
        error = "no candidate search has run on this volume";
        return false;
    }
    if (choice.entry >= search_->entries.size()) {
        error = search_->entries.empty() ? std::string("the search found no FAT")
                                         : "there is no FAT candidate " + std::to_string(choice.entry) + " (0 to " +
                                               std::to_string(search_->entries.size() - 1) + ")";
        return false;
    }
    const size_t heap = choice.heap.value_or(choice.entry);
    if (heap >= search_->heaps.size()) {
        error = search_->heaps.empty() ? std::string("the search found no cluster heap start")
                                       : "there is no heap candidate " + std::to_string(heap) + " (0 to " +
                                             std::to_string(search_->heaps.size() - 1) + ")";
        return false;
    }
    int64_t sectors = choice.sectorsPerCluster != 0 ? choice.sectorsPerCluster : search_->bootSectorsPerCluster;
    int shift = 0;
    while (shift <= 16 && (int64_t{1} << shift) != sectors) ++shift;
    if (shift > 16) {
        error = "sectors per cluster must be a power of two from 1 to 65536 (not " + std::to_string(sectors) + ")";
        return false;
    }
    chosen_ = Chosen{search_->entries[choice.entry], search_->heaps[heap], shift};
    return true;
}

ParseOutcome Fat64Class::parseAdvanced(WorkControl& control, Feedback& feedback) {
    if (!chosen_) {
        feedback.message("no FAT and heap candidates were chosen");
        return {Status::failure("advanced mode needs a chosen candidate"), false};
    }
    const int64_t end = volumeBytes();
    geometry_ = ExFatGeometry();
    geometry_.bytesPerSector = 512;
    geometry_.sectorsPerCluster = int64_t{1} << chosen_->sectorsPerClusterShift;
    geometry_.clusterBytes = 512 * geometry_.sectorsPerCluster;
    geometry_.fatStart = chosen_->fat;
    geometry_.dataStart = chosen_->heap;
    geometry_.volumeBytes = end;
    geometry_.maxCluster = std::min<uint64_t>(static_cast<uint64_t>(std::max<int64_t>(end, 0) / geometry_.clusterBytes),
                                              0xFFFFFFF7);
    fat_ = std::make_unique<ExFatFat>(setup_.view, geometry_, driveFormatted());
    fat_->readEachSector = readFatEachSector;
    ExFatFoundSets found = scanForEntrySets(setup_.view, end, control, feedback);
    if (found.stopped) control.clearStop();  // what the scan found is still assembled
    feedback.status(kExfatAdvancedTreeText);
    if (geometry_.fatStart > 0 && geometry_.dataStart > 0) {
        assembleFoundSets(found, setup_.view, geometry_, *fat_, records_, control, feedback);
        linkChildren(records_);
        fillTree(feedback);
    } else {
        feedback.message("the chosen FAT or cluster heap lies at offset 0: no entries are assembled");
    }
    return {};
}

ParseOutcome Fat64Class::parse(WorkControl& control, Feedback& feedback, Mode mode) {
    records_.clear();
    firstLevel_.clear();
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    if (mode == Mode::Advanced) return parseAdvanced(control, feedback);
    ExFatGeometry::Verdict verdict = geometry_.read(setup_.view, volumes::recordSizeBytes(setup_.volume));
    if (verdict != ExFatGeometry::Verdict::Ok) {
        if (verdict == ExFatGeometry::Verdict::Unreadable) feedback.message(kCantReadText);
        feedback.message(kNotExfatText);
        return {Status::failure(kNotExfatText), false};
    }
    if (geometry_.fromBackup) feedback.message(kBackupBootText);
    fat_ = std::make_unique<ExFatFat>(setup_.view, geometry_, driveFormatted());
    fat_->readEachSector = readFatEachSector;
    if (!geometry_.validCluster(geometry_.rootCluster)) {
        feedback.message(kExfatErrorText);
        return {Status::failure("the root folder's cluster lies outside the volume"), true};
    }
    feedback.status(kExfatProcessingText);
    feedback.status(kExfatFindingText);
    ExFatWalker(setup_.view, geometry_, *fat_, records_).walk(control, feedback);
    linkChildren(records_);
    feedback.status(kExfatTreeText);
    fillTree(feedback);
    feedback.message(kExfatDoneText);
    return {};
}

void Fat64Class::linkChildren(std::vector<ExFatDirRecord>& records) {
    // Parents come before their children in the table, so appending at a remembered last
    // child gives each list in table order, and no record can become its own ancestor.
    std::vector<uint32_t> last(records.size(), kNoRecord);
    for (uint32_t i = 1; i < records.size(); ++i) {
        uint32_t p = records[i].parentRef;
        if (p >= i) continue;
        if (last[p] == kNoRecord)
            records[p].firstChild = i;
        else
            records[last[p]].nextSibling = i;
        last[p] = i;
    }
}

void Fat64Class::fillTree(Feedback& feedback) {
    for (uint32_t c = records_.empty() ? kNoRecord : records_[0].firstChild; c != kNoRecord;
         c = records_[c].nextSibling) {
        if (c % 4096 == 0 || records_[c].nextSibling == kNoRecord) {
            char text[64];
            std::snprintf(text, sizeof text, "filling entry =%u in tree ", c);
            feedback.status(text);
        }
        const ExFatDirRecord& r = records_[c];
        firstLevel_.push_back(refOf(c));
        if (setup_.tree == nullptr) continue;
        TreeItem item = setup_.tree->insertItem(rootItem_, r.name, r.isFolder(), refOf(c));
        if (r.deleted()) setup_.tree->setRed(item);
    }
    if (setup_.tree != nullptr) setup_.tree->expand(rootItem_);
}

// ---------------------------------------------------------------------------------------
// Records as the browse and save steps see them

const ExFatDirRecord* Fat64Class::record(EntryRef ref) const {
    if (ref == kNoEntry || ref > records_.size()) return nullptr;
    return &records_[ref - 1];
}

EntryRef Fat64Class::firstChild(EntryRef folder) const {
    const ExFatDirRecord* r = record(folder);
    return r == nullptr || r->firstChild == kNoRecord ? kNoEntry : refOf(r->firstChild);
}

EntryRef Fat64Class::nextSibling(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    return r == nullptr || r->nextSibling == kNoRecord ? kNoEntry : refOf(r->nextSibling);
}

bool Fat64Class::qualifiesAsSaveFolder(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    return r != nullptr && ref != refOf(0) && r->isFolder() && r->firstChild != kNoRecord;
}

bool Fat64Class::isFolder(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    return r != nullptr && r->isFolder();
}

bool Fat64Class::isFile(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    return r != nullptr && !r->isFolder();
}

bool Fat64Class::hasChildren(EntryRef ref) const { return firstChild(ref) != kNoEntry; }

bool Fat64Class::isDeleted(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    return r != nullptr && r->deleted();
}

std::string Fat64Class::name(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    return r == nullptr ? std::string() : r->name;
}

int64_t Fat64Class::sizeField(EntryRef ref) const {
    const ExFatDirRecord* r = record(ref);
    if (r == nullptr) return 0;
    return r->validDataLength > INT64_MAX ? INT64_MAX : static_cast<int64_t>(r->validDataLength);
}

bool Fat64Class::setName(EntryRef ref, const std::string& newName) {
    if (record(ref) == nullptr) return false;
    records_[ref - 1].name = newName;
    return true;
}

int64_t Fat64Class::dataSize(EntryRef ref) { return record(ref) == nullptr ? -1 : sizeField(ref); }

std::string Fat64Class::sizeText(EntryRef ref) {
    int64_t size = dataSize(ref);
    return size < 0 ? std::string() : fs::sizeText(size);
}

EntryTexts Fat64Class::entryTexts(EntryRef ref) {
    EntryTexts texts;
    const ExFatDirRecord* r = record(ref);
    if (r == nullptr) return texts;
    texts.created = dateText(calendarOf(r->createTimestamp));
    texts.accessed = dateText(calendarOf(r->accessTimestamp));
    texts.modified = dateText(calendarOf(r->modifyTimestamp));
    static const struct {
        uint16_t bit;
        const char* marker;
    } kMarkers[] = {{0x01, "-R"}, {0x02, "-H"}, {0x04, "-S"}, {0x20, "-A"}};
    for (const auto& m : kMarkers)
        if (r->attributes & m.bit) texts.attributes += m.marker;
    return texts;
}

EntryTimes Fat64Class::times(EntryRef ref) {
    EntryTimes t;
    const ExFatDirRecord* r = record(ref);
    if (r == nullptr) return t;
    t.created = unixOf(r->createTimestamp, r->create10ms);
    t.modified = unixOf(r->modifyTimestamp, r->modify10ms);
    t.accessed = unixOf(r->accessTimestamp, 0);
    t.fractionDigits = 2;
    return t;
}

Result<EntryData> Fat64Class::openData(EntryRef ref, Feedback&) {
    const ExFatDirRecord* r = record(ref);
    if (r == nullptr || fat_ == nullptr) return Status::failure("not an entry of this volume");
    EntryData data;
    data.times = times(ref);
    if (r->isFolder())
        data.stream = std::make_unique<MemoryStream>(std::vector<uint8_t>{});
    else
        data.stream = ExFatDataStream::open(setup_.view, geometry_, *fat_, *r, driveFormatted());
    data.size = data.stream->size();
    return data;
}

}  // namespace quenlow::fs
