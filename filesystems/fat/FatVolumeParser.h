#pragma once
// What the FAT16 and FAT32 parsers share: the folder walk from the root (depth first,
// deleted entries under their old folders, long names), the child lists, the first level
// of the tree, the list's texts with DOS times taken as stored, and each file's data as the
// clusters of its chain. Fat32Class and Fat16Class give the boot-sector test and the
// geometry; the rest differs only by the data of a Variant.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "filesystems/VolumeParser.h"
#include "filesystems/fat/FatDirRecord.h"
#include "filesystems/fat/FatTable.h"

namespace quenlow::fs {

inline constexpr const char* kFatLinkingText = "maintaining tree Structure in vector...";
inline constexpr const char* kFatCreatingTreeText = "Creating Tree Structure....";
inline constexpr const char* kFatTreeCreatedText = "Tree Structure Created.";

// The layout of a volume as its boot sector gives it (byte offsets from the volume start).
struct FatGeometry {
    uint32_t bytesPerSector = 0;
    uint32_t sectorsPerCluster = 0;
    uint64_t clusterBytes = 0;
    int64_t fatStart = 0;
    uint64_t fatBytes = 0;
    int64_t rootStart = 0;    // the fixed root region (FAT16)
    uint64_t rootBytes = 0;
    uint32_t rootCluster = 2; // the root folder's first cluster (FAT32)
    int64_t dataStart = 0;    // cluster 2
    uint64_t bootTotalBytes = 0;
};

class FatVolumeParser : public VolumeParser {
public:
    struct Variant {
        const char* notFormatText;  // the message of a failed boot-sector test
        const char* findingText;    // the status of the walk
        unsigned entryBytes;        // 2 or 4
        uint32_t endMark;           // FAT entries from here on end a chain
        bool fixedRoot;             // the root is a region before cluster 2 (FAT16)
        bool highClusterWord;       // first cluster = high word * 65536 + low word (FAT32)
        bool progressAfterTree;     // the tree fill ends with a full progress bar (FAT16)
        const char* maintainingTreeText;  // the status before the advanced mode's tree
    };
    static constexpr uint32_t kEnd = 0xFFFFFFFF;

    ParseOutcome parse(WorkControl& control, Feedback& feedback, Mode mode) override;
    // Advanced mode: the FAT starts found on the whole volume (the first two FAT entries at
    // a sector's start), then the one to parse from with a cluster size of 1 to 128 sectors.
    Result<CandidateSearch> findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) override;
    bool chooseCandidate(const CandidateChoice& choice, std::string& error) override;
    const std::vector<int64_t>& fatCandidates() const { return fatCandidates_; }
    // Whether the slot at volume offset `at` holds the first two entries of a FAT.
    bool fatSignatureAt(const uint8_t* at) const;

    std::vector<EntryRef> firstLevel() const override { return firstLevel_; }
    EntryRef firstChild(EntryRef folder) const override;
    EntryRef nextSibling(EntryRef entry) const override;
    bool qualifiesAsSaveFolder(EntryRef entry) const override { return isFolder(entry); }
    bool isFolder(EntryRef entry) const override;
    bool isFile(EntryRef entry) const override;
    bool hasChildren(EntryRef entry) const override { return firstChild(entry) != kNoEntry; }
    bool isDeleted(EntryRef entry) const override;
    std::string name(EntryRef entry) const override;
    int64_t sizeField(EntryRef entry) const override;
    bool setName(EntryRef entry, const std::string& newName) override;
    std::string sizeText(EntryRef entry) override;
    int64_t dataSize(EntryRef entry) override { return sizeField(entry); }
    EntryTexts entryTexts(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    Result<EntryData> openData(EntryRef entry, Feedback& feedback) override;

    static EntryRef refOf(size_t index) { return static_cast<EntryRef>(index) + 1; }
    const FatDirRecord* record(EntryRef ref) const;
    const std::vector<FatDirRecord>& records() const { return records_; }
    const FatGeometry& geometry() const { return geometry_; }
    uint64_t maxCluster() const { return maxCluster_; }
    uint32_t firstCluster(const FatDirRecord& r) const;
    // The FAT entry of `c`: kEnd for none (also for every cluster with driveFormatted).
    uint32_t nextCluster(uint32_t c);
    // Whether a chain goes on to `c`.
    bool follows(uint32_t c) const { return c != kEnd && c >= 2 && c < clusterLimit_; }
    FatTable& fat() { return fat_; }

    // A DOS date and time as seconds since 1970, the fields taken as UTC; none when the
    // fields do not make a date.
    static std::optional<platform::UnixTime> dosTime(uint16_t date, uint16_t time);

protected:
    FatVolumeParser(const ParserSetup& setup, const Variant& variant);
    // Checks the first sector and derives the geometry from it; false: not this file system.
    virtual bool validateBootSector(const uint8_t* boot, FatGeometry& geometry) const = 0;
    // The boot sector at sector 0 or, when that one fails the check, FAT32's backup copy in
    // sector 6 (`fromBackup` then set). False when neither can be read or passes.
    bool readBootSector(FatGeometry& geometry, bool& fromBackup) const;

private:
    struct Frame;
    uint64_t volumeBytes() const;
    void walk(WorkControl& control);
    void runWalk(WorkControl& control, std::vector<Frame>& stack);
    Frame rootFrame();
    int64_t slotOffset(const Frame& f) const;
    // Advanced mode: the geometry from the chosen candidate and what the scan found.
    ParseOutcome parseAdvanced(WorkControl& control, Feedback& feedback);
    bool placeRegions(const class FatEntryScan& scan);
    void assemble(WorkControl& control, const std::vector<int64_t>& found, bool rootKnown);
    void assembleAt(WorkControl& control, int64_t position);
    bool inRootWindow(int64_t position) const;
    void adopt(uint32_t record, uint32_t parent);
    bool loadPiece(const Frame& f);
    bool claim(uint32_t cluster, bool deletedWalk);
    void linkChildren();
    void fillTree(Feedback& feedback);
    int64_t clusterOffset(uint32_t c) const;

    ParserSetup setup_;
    Variant variant_;
    FatGeometry geometry_;
    FatTable fat_;
    uint64_t maxCluster_ = 0;
    uint64_t clusterLimit_ = 0;
    bool formatted_ = false;
    std::vector<FatDirRecord> records_;
    std::vector<EntryRef> firstLevel_;
    std::vector<uint8_t> buffer_;
    std::unordered_set<uint32_t> walked_;         // folder clusters walked from live folders
    std::unordered_set<uint32_t> walkedDeleted_;  // ... and from deleted ones
    TreeItem rootItem_ = kNoItem;

    // Advanced mode
    static constexpr uint32_t kNoSlotRecord = UINT32_MAX;
    static constexpr uint32_t kOrphanIndex = 1;
    std::vector<int64_t> fatCandidates_;
    bool searched_ = false;
    bool bootValid_ = false;
    FatGeometry bootGeometry_;
    std::optional<size_t> chosen_;
    uint32_t chosenSectors_ = 0;
    bool advanced_ = false;
    uint64_t advancedBytes_ = 0;         // the volume's size in the advanced parse
    int64_t rootWindowEnd_ = 0;          // entries found before this are first-level ones
    std::unordered_set<uint32_t> rootClusters_;  // FAT32: the root folder's clusters
    // Slots already listed (by the walks or from the scan), with their record when they
    // made one: an entry is listed once.
    std::unordered_map<int64_t, uint32_t> usedSlots_;
};

}  // namespace quenlow::fs
