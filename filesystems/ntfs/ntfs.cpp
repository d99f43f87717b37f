#include "filesystems/ntfs/ntfs.h"

#include <cstdio>
#include <exception>

#include "filesystems/EntryFormat.h"
#include "filesystems/ParserRegistry.h"
#include "filesystems/ntfs/NtfsDataReader.h"

namespace quenlow::fs {

ParserInfo ntfsParserInfo() {
    ParserInfo info;
    info.name = "NTFS";
    info.typeNames = {"ntfs"};
    info.modes = {Mode::Standard, Mode::Advanced, Mode::Deep};
    info.selectedStatus = kNtfsSelectedText;
    info.restoresRecycleBin = true;
    info.recycleBinUserFolders = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<ntfs>(setup); };
    return info;
}

ntfs::ntfs(const ParserSetup& setup)
    : setup_(setup), linker_(table_), mft_(setup.view, volumes::recordSizeBytes(setup.volume), table_, linker_) {}

ntfs::~ntfs() = default;

ParseOutcome ntfs::parse(WorkControl& control, Feedback& feedback, Mode mode) {
    linker_.walkWholeLists = walkWholeLists;
    mft_.attach(control, feedback);
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    const bool deep = mode == Mode::Deep;
    bool found = locate(mode, feedback);
    mft_.enumerateMft();
    mft_.linkEntries();
    const int64_t records = static_cast<int64_t>(table_.entries.size()) - (deep ? 1 : 0);
    arrangement_ = linker_.arrange("ORPHAN_ENTRY", deep);
    fillFirstLevel(deep);
    if (mft_.usedBackupBoot()) feedback.message(kBackupBootText);
    if (mft_.usedMirror()) feedback.message("the record of $MFT is damaged: the table was read through $MFTMirr");
    if (mft_.mftLocated() && arrangement_.rootIndex < 0 && !firstLevel_.empty())
        feedback.message("the root folder's record is damaged: what it held is below ORPHAN_ENTRY");
    if (deep && mft_.deepLimitReached()) {
        char text[200];
        std::snprintf(text, sizeof text, "the deep scan stopped after %lld records: the rest of the volume was not scanned",
                      static_cast<long long>(records));
        feedback.message(text);
    }
    mft_.attach(control, silentFeedback());
    ParseOutcome outcome;
    if (deep) {
        if (table_.at(arrangement_.orphanIndex).firstChild <= 0)
            outcome.status = Status::failure("no MFT record with a name was found on the volume");
    } else if (mode == Mode::Advanced) {
        if (!found) outcome.status = Status::failure(choice_ ? "the chosen $MFT record gives no data runs"
                                                              : "no $MFT candidate was chosen");
    } else if (!mft_.mftLocated()) {
        outcome.status = Status::failure(mft_.bootIsNtfs()
                                             ? "the Master File Table could not be read"
                                             : "the volume holds no NTFS boot sector and no Master File Table was found");
    }
    return outcome;
}

bool ntfs::locate(Mode mode, Feedback& feedback) {
    switch (mode) {
        case Mode::Advanced:
            // The boot sector was read by the search; the table is walked from the choice.
            if (!choice_ || choice_->entry >= candidates_.size()) return false;
            return mft_.selectCandidate(candidates_[choice_->entry], choice_->sectorsPerCluster);
        case Mode::Deep:
            (void)mft_.readBootSector();
            feedback.status(kDeepScanText);
            mft_.collectRecords();
            return true;
        case Mode::Standard: break;
    }
    (void)mft_.readBootSector();
    feedback.status(kMftParsingText);
    return mft_.locateMft();
}

Result<CandidateSearch> ntfs::findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) {
    mft_.attach(control, feedback);
    (void)mft_.readBootSector();
    CandidateSearch search;
    search.bootValid = mft_.bootIsNtfs();
    search.bootSectorsPerCluster = mft_.bootClusterBytes() / 512;
    candidates_ = mft_.searchMft(maximum < 1 ? 3 : maximum);
    search.entries = candidates_;
    mft_.attach(control, silentFeedback());
    return search;
}

bool ntfs::chooseCandidate(const CandidateChoice& choice, std::string& error) {
    const int64_t spc = choice.sectorsPerCluster;
    if (choice.entry >= candidates_.size()) {
        error = candidates_.empty() ? "the search found no $MFT record"
                                    : "there is no candidate " + std::to_string(choice.entry) + " (the search found " +
                                          std::to_string(candidates_.size()) + ")";
        return false;
    }
    if (spc < 0 || spc > 4096 || (spc & (spc - 1)) != 0) {
        error = "sectors per cluster must be a power of two from 1 to 4096 (not " + std::to_string(spc) + ")";
        return false;
    }
    if (choice.heap) {
        error = "heap candidates are chosen on exFAT volumes only";
        return false;
    }
    choice_ = choice;
    return true;
}

void ntfs::insertFirstLevel(int64_t index) {
    const NtfsEntry& e = table_.at(index);
    if (setup_.tree != nullptr) {
        TreeItem item = setup_.tree->insertItem(rootItem_, table_.nameAt(index), e.isFolder(), refOf(index));
        if ((e.recordFlags & 1) == 0) setup_.tree->setRed(item);
    }
    firstLevel_.push_back(refOf(index));
}

void ntfs::fillFirstLevel(bool deep) {
    const int64_t n = table_.size();
    firstLevel_.clear();
    const int64_t root = arrangement_.rootIndex, orphan = arrangement_.orphanIndex;
    // A table without a root (its record damaged) still shows what it holds: the root's
    // children are orphans then, like those of any other damaged folder.
    if ((root < 0 || root >= n) && (!(mft_.mftLocated() || deep) || orphan < 0 || table_.at(orphan).firstChild <= 0))
        return;
    bool orphanShown = false;
    if (!deep && root >= 0 && root < n) {
        int64_t c = table_.at(root).firstChild;
        for (int64_t steps = 0; c > 0 && c < n && steps < n; ++steps) {
            insertFirstLevel(c);
            if (c == orphan) {
                orphanShown = true;
                break;
            }
            c = table_.at(c).nextSibling;
        }
    }
    if (!orphanShown && orphan >= 0 && orphan < n) insertFirstLevel(orphan);
    if (setup_.tree != nullptr) setup_.tree->expand(rootItem_);
}

// ---------------------------------------------------------------------------------------
// Entries as the browse and save steps see them

int64_t ntfs::indexOf(EntryRef ref) const {
    if (ref == kNoEntry || ref > table_.entries.size()) return -1;
    return static_cast<int64_t>(ref - 1);
}

const NtfsEntry* ntfs::entry(EntryRef ref) const {
    int64_t i = indexOf(ref);
    return i < 0 ? nullptr : &table_.at(i);
}

EntryRef ntfs::firstChild(EntryRef folder) const {
    const NtfsEntry* e = entry(folder);
    if (e == nullptr || e->firstChild <= 0 || e->firstChild >= table_.size()) return kNoEntry;
    return refOf(e->firstChild);
}

EntryRef ntfs::nextSibling(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    if (e == nullptr || e->nextSibling <= 0 || e->nextSibling >= table_.size()) return kNoEntry;
    return refOf(e->nextSibling);
}

bool ntfs::qualifiesAsSaveFolder(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && e->signature == kFileSignature && e->isFolder() && e->selfIndex > 0 &&
           e->selfIndex < table_.size() && (e->selfIndex >> 32) == 0;
}

bool ntfs::isFolder(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && e->isFolder();
}

bool ntfs::isFile(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && !e->isFolder();
}

bool ntfs::hasChildren(EntryRef ref) const { return firstChild(ref) != kNoEntry; }

bool ntfs::isDeleted(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e != nullptr && (e->recordFlags & 1) == 0;
}

std::string ntfs::name(EntryRef ref) const { return table_.nameAt(indexOf(ref)); }

int64_t ntfs::sizeField(EntryRef ref) const {
    const NtfsEntry* e = entry(ref);
    return e == nullptr ? 0 : e->size;
}

bool ntfs::skipWhenSaving(EntryRef ref) const { return table_.nameView(indexOf(ref)) == "$BadClus"; }

bool ntfs::setName(EntryRef ref, const std::string& newName) {
    int64_t i = indexOf(ref);
    if (i < 0 || newName.size() > UINT32_MAX) return false;
    table_.storeName(i, newName);
    return true;
}

EntryTexts ntfs::entryTexts(EntryRef ref) {
    EntryTexts texts;
    int64_t i = indexOf(ref);
    if (i < 0 || i == arrangement_.orphanIndex) return texts;  // the orphan folder has no record
    const NtfsEntry& e = table_.at(i);
    if (e.hasTimes) {
        texts.created = dateTextFromFileTime(e.created);
        texts.accessed = dateTextFromFileTime(e.accessed);
        texts.modified = dateTextFromFileTime(e.modified);
    }
    if (e.hasAttributes) {
        static const struct {
            uint32_t bit;
            const char* marker;
        } kMarkers[] = {{0x1, "-R"}, {0x2, "-H"}, {0x200, "-S"}, {0x20, "-A"}, {0x800, "-C"}, {0x4000, "-E"}};
        for (const auto& m : kMarkers)
            if (e.fileAttributes & m.bit) texts.attributes += m.marker;
    }
    return texts;
}

EntryTimes ntfs::times(EntryRef ref) {
    EntryTimes t;
    int64_t i = indexOf(ref);
    if (i < 0 || i == arrangement_.orphanIndex || !table_.at(i).hasTimes) return t;
    const NtfsEntry& e = table_.at(i);
    t.created = platform::unixFromFileTime(e.created);
    t.accessed = platform::unixFromFileTime(e.accessed);
    t.modified = platform::unixFromFileTime(e.modified);
    t.fractionDigits = 7;
    return t;
}

int64_t ntfs::dataSize(EntryRef ref) {
    int64_t i = indexOf(ref);
    if (i < 0) return -1;
    if (i == arrangement_.orphanIndex) return 0;
    const NtfsEntry& e = table_.at(i);
    if (e.sizeKnown) return e.dataSize;
    try {
        NtfsRecord record;
        NtfsDataLayout layout;
        NtfsDataReader(mft_, table_).load(i, record, layout);
        if (!layout.hasData) return 0;
        if (layout.residency == NtfsResidency::Resident) return static_cast<int64_t>(layout.resident.size());
        return layout.dataSize;
    } catch (const std::exception&) {
        return -1;
    }
}

std::string ntfs::sizeText(EntryRef ref) {
    int64_t size = dataSize(ref);
    return size < 0 ? std::string() : fs::sizeText(size);
}

void ntfs::reportSaveFailure(const std::string& reason, Feedback& feedback) {
    char text[1024];
    std::snprintf(text, sizeof text, "Exception :  %s   ", reason.c_str());
    feedback.message(text);
}

Result<EntryData> ntfs::openData(EntryRef ref, Feedback& feedback) {
    int64_t i = indexOf(ref);
    if (i < 0) return Status::failure("not an entry of this volume");
    const NtfsEntry& e = table_.at(i);
    if (!e.hasName) return Status::failure("the entry has no name");
    try {
        EntryData data;
        NtfsRecord record;
        NtfsDataLayout layout;
        NtfsDataReader reader(mft_, table_);
        bool synthetic = i == arrangement_.orphanIndex;
        bool valid = !synthetic && reader.load(i, record, layout);
        if (!valid && !synthetic) {
            feedback.message("not a valid entry...");
            return Status::failure("not a valid entry...");
        }
        // Data gathered from extension records is saved even for a folder.
        bool withData = valid && layout.hasData &&
                        ((layout.fromExtensions && layout.residency == NtfsResidency::NonResident) || !e.isFolder());
        if (e.isFolder()) {
            char text[1024];
            std::snprintf(text, sizeof text, "This is  %s directory .Please specify file names ", table_.nameAt(i).c_str());
            feedback.message(text);
        }
        data.stream = withData ? reader.stream(layout) : std::make_unique<MemoryStream>(std::vector<uint8_t>{});
        data.size = data.stream->size();
        uint64_t created = 0, modified = 0, accessed = 0;
        if (valid && record.standardTimes(created, modified, accessed)) {
            data.times.created = platform::unixFromFileTime(created);
            data.times.accessed = platform::unixFromFileTime(accessed);
            data.times.modified = platform::unixFromFileTime(modified);
            data.times.fractionDigits = 7;
        }
        return data;
    } catch (const std::exception& ex) {
        reportSaveFailure(ex.what(), feedback);
        return Status::failure(ex.what());
    }
}

}  // namespace quenlow::fs
