#include "filesystems/exfat/Fat64Class.h"

#include <cstdio>

#include "disk/RecoveryContext.h"
#include "filesystems/EntryFormat.h"
#include "filesystems/ParserRegistry.h"
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
    info.modes = {Mode::Standard};
    info.restoresRecycleBin = true;
    info.expandingClearsList = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<Fat64Class>(setup); };
    return info;
}

Fat64Class::Fat64Class(const ParserSetup& setup) : setup_(setup) {}

Fat64Class::~Fat64Class() = default;

bool Fat64Class::driveFormatted() const { return setup_.context != nullptr && setup_.context->driveFormatted; }

ParseOutcome Fat64Class::parse(WorkControl& control, Feedback& feedback, Mode) {
    records_.clear();
    firstLevel_.clear();
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    ExFatGeometry::Verdict verdict = geometry_.read(setup_.view, volumes::recordSizeBytes(setup_.volume));
    if (verdict != ExFatGeometry::Verdict::Ok) {
        if (verdict == ExFatGeometry::Verdict::Unreadable) feedback.message(kCantReadText);
        feedback.message(kNotExfatText);
        return {Status::failure(kNotExfatText), false};
    }
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
