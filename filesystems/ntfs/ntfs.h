#pragma once
// The NTFS parser: reads the Master File Table into an entry table (one entry per MFT slot,
// live or deleted; NtfsMftReader), links the entries into folders through their FILE_NAME
// parent references and gathers those without a usable parent under "ORPHAN_ENTRY"
// (NtfsLinker), fills the first level of the folder tree, and describes each entry's data
// as a stream (NtfsDataReader).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/ntfs/NtfsLinker.h"
#include "filesystems/ntfs/NtfsMftReader.h"
#include "filesystems/ntfs/NtfsTable.h"

namespace quenlow::fs {

inline constexpr const char* kNtfsSelectedText = "ntfs partition selected....";
inline constexpr const char* kMftParsingText = " ParsingBasedOnMFT is going on....";
inline constexpr const char* kDeepScanText = " scanning for mft entries in deep mode ....";

class ntfs : public VolumeParser {
public:
    explicit ntfs(const ParserSetup& setup);
    ~ntfs() override;

    // The standard parse: boot sector, the table's runs (or a scan for its first record),
    // every slot, the links, the first level of the tree. Advanced: the same from the $MFT
    // record chosen among the candidates. Deep: every named record found on the volume,
    // below ORPHAN_ENTRY.
    ParseOutcome parse(WorkControl& control, Feedback& feedback, Mode mode) override;
    // The $MFT records of the volume, found by the $Boot record that follows each.
    Result<CandidateSearch> findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) override;
    bool chooseCandidate(const CandidateChoice& choice, std::string& error) override;

    // VolumeParser
    std::vector<EntryRef> firstLevel() const override { return firstLevel_; }
    EntryRef firstChild(EntryRef folder) const override;
    EntryRef nextSibling(EntryRef entry) const override;
    bool qualifiesAsSaveFolder(EntryRef entry) const override;
    bool isFolder(EntryRef entry) const override;
    bool isFile(EntryRef entry) const override;
    bool hasChildren(EntryRef entry) const override;
    bool isDeleted(EntryRef entry) const override;
    std::string name(EntryRef entry) const override;
    int64_t sizeField(EntryRef entry) const override;
    bool skipWhenSaving(EntryRef entry) const override;
    bool setName(EntryRef entry, const std::string& newName) override;
    std::string sizeText(EntryRef entry) override;
    int64_t dataSize(EntryRef entry) override;
    EntryTexts entryTexts(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    Result<EntryData> openData(EntryRef entry, Feedback& feedback) override;
    void reportSaveFailure(const std::string& reason, Feedback& feedback) override;

    // An entry's reference is its index + 1, so that no real entry has reference 0.
    static EntryRef refOf(int64_t index) { return static_cast<EntryRef>(index) + 1; }
    int64_t indexOf(EntryRef ref) const;
    const NtfsEntry* entry(EntryRef ref) const;
    const std::vector<NtfsEntry>& entries() const { return table_.entries; }
    std::string nameAt(int64_t index) const { return table_.nameAt(index); }

    int64_t clusterSize() const { return mft_.clusterSize(); }
    int64_t volumeSize() const { return mft_.volumeSize(); }
    bool mftLocated() const { return mft_.mftLocated(); }
    const std::vector<NtfsRun>& mftRuns() const { return mft_.mftRuns(); }
    int64_t orphanIndex() const { return arrangement_.orphanIndex; }
    int64_t rootIndex() const { return arrangement_.rootIndex; }
    TreeItem rootItem() const { return rootItem_; }
    NtfsMftReader& mftReader() { return mft_; }

    // Tests compare the fast linking (which remembers each folder's last child) with the
    // plain walk of every child list.
    bool walkWholeLists = false;

private:
    void fillFirstLevel(bool deep);
    bool locate(Mode mode, Feedback& feedback);
    void insertFirstLevel(int64_t index);

    ParserSetup setup_;
    NtfsTable table_;
    NtfsLinker linker_;
    NtfsMftReader mft_;
    NtfsLinker::Arrangement arrangement_;
    TreeItem rootItem_ = kNoItem;
    std::vector<EntryRef> firstLevel_;
    std::vector<int64_t> candidates_;  // positions of $MFT records
    std::optional<CandidateChoice> choice_;
};

}  // namespace quenlow::fs
