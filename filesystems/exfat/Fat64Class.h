#pragma once
// The exFAT parser ("FAT64" in the volume lists): the boot sector's geometry, a walk of
// every folder from the root into one record per directory entry set, live or deleted
// (ExFatWalker), the child lists in the order of the table, the first level of the tree,
// the list's texts with the stored times, and each file's data as a stream
// (ExFatDataStream) over its FAT chain or contiguous run. In advanced mode the geometry is
// the user's choice among the FAT and heap starts found on the volume, and the records come
// from the entry sets a scan of the whole volume finds (ExFatAdvanced).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/exfat/ExFatDirRecord.h"
#include "filesystems/exfat/ExFatFat.h"
#include "filesystems/exfat/ExFatGeometry.h"

namespace quenlow::fs {

inline constexpr const char* kNotExfatText = "Selected Drive is not in exFat Format";
inline constexpr const char* kCantReadText = "cant read file";
inline constexpr const char* kExfatErrorText = "error...";
inline constexpr const char* kExfatProcessingText = "processing file and directory entries...";
inline constexpr const char* kExfatFindingText = "Finding Fat64 File And Directory entries recursively....";
inline constexpr const char* kExfatTreeText = "creating tree Structure...";
inline constexpr const char* kExfatDoneText = "done...";
inline constexpr const char* kExfatAdvancedTreeText = "Maintaining TreeStructure for Tree Control";

class Fat64Class : public VolumeParser {
public:
    explicit Fat64Class(const ParserSetup& setup);
    ~Fat64Class() override;

    ParseOutcome parse(WorkControl& control, Feedback& feedback, Mode mode) override;
    // Advanced mode: FAT starts and cluster heap starts found on the volume; the choice of
    // one of each and of the cluster size; then parse(Mode::Advanced) builds the records
    // from every entry set the scan finds.
    Result<CandidateSearch> findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) override;
    bool chooseCandidate(const CandidateChoice& choice, std::string& error) override;
    // The most candidates of each kind one search keeps.
    static constexpr int64_t kMaxCandidates = 65536;

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
    bool setName(EntryRef entry, const std::string& newName) override;
    std::string sizeText(EntryRef entry) override;
    int64_t dataSize(EntryRef entry) override;
    EntryTexts entryTexts(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    Result<EntryData> openData(EntryRef entry, Feedback& feedback) override;

    // A record's reference is its index + 1, so that no record has reference 0.
    static EntryRef refOf(uint32_t index) { return static_cast<EntryRef>(index) + 1; }
    const ExFatDirRecord* record(EntryRef ref) const;
    const std::vector<ExFatDirRecord>& records() const { return records_; }
    const ExFatGeometry& geometry() const { return geometry_; }
    ExFatFat& fat() { return *fat_; }

    // Links every record at the end of its parent's child list, in table order.
    static void linkChildren(std::vector<ExFatDirRecord>& records);

    // Tests compare the cached FAT with a read of each entry's own sector.
    bool readFatEachSector = false;

private:
    ParseOutcome parseAdvanced(WorkControl& control, Feedback& feedback);
    int64_t volumeBytes() const;
    void fillTree(Feedback& feedback);
    bool driveFormatted() const;

    ParserSetup setup_;
    ExFatGeometry geometry_;
    std::unique_ptr<ExFatFat> fat_;
    std::vector<ExFatDirRecord> records_;
    std::vector<EntryRef> firstLevel_;
    TreeItem rootItem_ = kNoItem;
    std::optional<CandidateSearch> search_;
    struct Chosen {
        int64_t fat = 0, heap = 0;
        int sectorsPerClusterShift = 0;
    };
    std::optional<Chosen> chosen_;
};

}  // namespace quenlow::fs
